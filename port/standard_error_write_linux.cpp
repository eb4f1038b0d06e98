#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "port/quiet_write.h"
#include "port/standard_error_write.h"

namespace {

constexpr int kStandardError = 2;

// A second open file description of what descriptor 2 refers to, so that
// O_NONBLOCK can be set on it alone. Opening a FIFO or pipe for writing
// without a reader fails with ENXIO: that is a reader that has gone.
ssize_t writeThroughOwnDescriptor(const void* data, size_t size) {
  const int own = ::open("/proc/self/fd/2", O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) {
    errno = errno == ENXIO ? EPIPE : EAGAIN;
    return -1;
  }
  const ssize_t written = portWriteQuietly(own, data, size);
  const int error = errno;
  ::close(own);
  errno = error;
  return written;
}

}  // namespace

ssize_t portWriteStandardErrorNoWait(const void* data, size_t size) {
  struct stat info {};
  if (::fstat(kStandardError, &info) != 0) return -1;
  if (S_ISSOCK(info.st_mode)) {
    ssize_t sent;
    do {
      sent = ::send(kStandardError, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
  }
  const int flags = ::fcntl(kStandardError, F_GETFL);
  const bool mayWait = !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode);
  if (!mayWait || (flags >= 0 && (flags & O_NONBLOCK) != 0)) return portWriteQuietly(kStandardError, data, size);
  const ssize_t written = portWriteQuietlyNoWait(kStandardError, data, size);
  const bool unsupported = written < 0 && (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL);
  return unsupported ? writeThroughOwnDescriptor(data, size) : written;
}
