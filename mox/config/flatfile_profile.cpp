#include "mox/config/flatfile_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

#include "common/utf.h"
#include "mox/config/configuration.h"
#include "mox/config/flatfile_syntax.h"

namespace moxprofile {

namespace {

// Opens without blocking (a FIFO named like the file must not hang the
// initialisation) and accepts only regular files (not directories, devices).
int openRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool readAll(int fd, std::string& bytes) {
  char chunk[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.append(chunk, static_cast<size_t>(got));
  }
}

}  // namespace

bool readConfigFile(const std::u16string& path, ParameterMap& out) {
  std::string narrowPath;
  if (!utf16ToUtf8(path, narrowPath) || narrowPath.find('\0') != std::string::npos) return false;
  const int fd = openRegularFile(narrowPath);
  if (fd < 0) return false;
  std::string bytes;
  const bool complete = readAll(fd, bytes);
  ::close(fd);
  if (!complete) return false;
  parseConfigText(bytes, out);
  return true;
}

CFlatfileProfile::CFlatfileProfile(std::u16string fileName) : fileName_(std::move(fileName)) {}

ParameterMap& CFlatfileProfile::load(ParameterMap& target, const CConfiguration& cfg) {
  try {
    ParameterMap read;
    bool found = readConfigFile(cfg.getConfigDir() + u"/" + fileName_, read);
    if (!found) {
      read.clear();
      found = readConfigFile(fileName_, read);
    }
    status_ = found ? kProfileRead : kProfileNotOpened;
    parameters_ = found ? std::move(read) : ParameterMap();
    target.insert(parameters_.begin(), parameters_.end());
  } catch (const std::bad_alloc&) {
    // A file too large to hold counts as unreadable; the defaults stand.
    status_ = kProfileNotOpened;
    parameters_.clear();
  }
  return target;
}

}  // namespace moxprofile
