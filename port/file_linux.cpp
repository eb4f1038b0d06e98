#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "port/file.h"

int portOpenForAppend(const std::string& name, bool truncate) {
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  return ::open(name.c_str(), flags, 0666);
}

int portOpenForRead(const std::string& name) { return ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

bool portFileStatus(int fd, PortFileStatus* status) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  status->regular = S_ISREG(info.st_mode);
  status->size = status->regular ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

ssize_t portRead(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }

int64_t portFileOffset(int fd) { return static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR)); }

bool portTruncateFile(int fd, uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }

// Linux frees the descriptor even when close reports EINTR.
int portClose(int fd) { return ::close(fd); }

bool portRenameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
