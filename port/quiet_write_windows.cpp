// Windows raises no signal for a write to a pipe without reader or past a
// size limit: the writes are the C runtime's, in binary mode.
#include <errno.h>
#include <io.h>
#include <windows.h>

#include "port/quiet_write.h"

namespace {

unsigned int chunk(size_t size) { return size > 0x40000000 ? 0x40000000u : static_cast<unsigned int>(size); }

}  // namespace

ssize_t portWriteQuietly(int fd, const void* data, size_t size) { return _write(fd, data, chunk(size)); }

// Only a file on disk can be written without a wait that the caller did not
// choose; a pipe's write may wait for its reader.
ssize_t portWriteQuietlyNoWait(int fd, const void* data, size_t size) {
  const intptr_t handle = _get_osfhandle(fd);
  if (handle == -1) {
    errno = EBADF;
    return -1;
  }
  if (GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_DISK) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return _write(fd, data, chunk(size));
}

bool portWriteStreamQuietly(std::FILE* out, const void* data, size_t size) {
  return std::fwrite(data, 1, size, out) == size && std::fflush(out) == 0;
}
