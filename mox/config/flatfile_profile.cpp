#include "mox/config/flatfile_profile.h"

#include <cerrno>
#include <new>
#include <utility>

#include "common/file_path.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/config/flatfile_syntax.h"
#include "port/file.h"

namespace moxprofile {

namespace {

// Opens without blocking (a FIFO named like the file must not hang the
// initialisation) and accepts only regular files (not directories, devices).
int openRegularFile(const std::string& path) {
  const int fd = portOpenForRead(path);
  if (fd < 0) return -1;
  PortFileStatus info;
  if (!portFileStatus(fd, &info) || !info.regular) {
    portClose(fd);
    return -1;
  }
  return fd;
}

// Reads up to limit + 1 bytes: the size given by fstat may be stale (a file
// still growing), so the bound holds on what is read.
ConfigFileRead readBounded(int fd, size_t limit, std::string& bytes) {
  char chunk[64 * 1024];
  for (;;) {
    const size_t wanted = limit + 1 - bytes.size() < sizeof chunk ? limit + 1 - bytes.size() : sizeof chunk;
    const ssize_t got = portRead(fd, chunk, wanted);
    if (got == 0) return ConfigFileRead::Read;
    if (got < 0) {
      if (errno == EINTR) continue;
      return ConfigFileRead::NotOpened;
    }
    bytes.append(chunk, static_cast<size_t>(got));
    if (bytes.size() > limit) return ConfigFileRead::TooLarge;
  }
}

ConfigFileRead readFile(int fd, std::string& bytes) {
  PortFileStatus info;
  if (portFileStatus(fd, &info) && info.size > kConfigFileMaxBytes) {
    return ConfigFileRead::TooLarge;
  }
  return readBounded(fd, kConfigFileMaxBytes, bytes);
}

}  // namespace

ConfigFileRead readConfigFile(const std::u16string& path, ParameterMap& out) {
  std::string narrowPath;
  if (!utf16ToUtf8(path, narrowPath) || narrowPath.find('\0') != std::string::npos) {
    return ConfigFileRead::NotOpened;
  }
  const int fd = openRegularFile(narrowPath);
  if (fd < 0) return ConfigFileRead::NotOpened;
  std::string bytes;
  const ConfigFileRead result = readFile(fd, bytes);
  portClose(fd);
  if (result != ConfigFileRead::Read) return result;
  parseConfigText(bytes, out);
  return ConfigFileRead::Read;
}

std::optional<ParameterMap> readFlatfileProfile(const std::u16string& configDir, const std::u16string& fileName) {
  try {
    ParameterMap read;
    std::u16string path = fileInDirectory(configDir, fileName);
    ConfigFileRead result = readConfigFile(path, read);
    if (result == ConfigFileRead::NotOpened && path != fileName) {
      read.clear();
      path = fileName;
      result = readConfigFile(path, read);
    }
    if (result == ConfigFileRead::TooLarge) {
      // Noted now, written once the trace file is open (it is opened after
      // the configuration is read).
      MOX_TRC_ERROR_EARLY("Configuration file %s is larger than %zu bytes and was ignored\n", trcText(path).c_str(),
                          kConfigFileMaxBytes);
    }
    if (result != ConfigFileRead::Read) return std::nullopt;
    return read;
  } catch (const std::bad_alloc&) {
    // Out of memory while parsing: the file counts as unreadable; the defaults stand.
    return std::nullopt;
  }
}

}  // namespace moxprofile
