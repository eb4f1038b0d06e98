// Standard error on Windows: a file or a console is written directly; a pipe
// is not written at all, because its write waits until the reader takes the
// bytes and the process's pipe handle cannot be made non-waiting for one
// write without changing it for the host too.
#include <errno.h>
#include <windows.h>

#include "port/standard_error_write.h"

ssize_t portWriteStandardErrorNoWait(const void* data, size_t size) {
  const HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  const DWORD type = GetFileType(out);
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_CHAR) {
    errno = EAGAIN;
    return -1;
  }
  const DWORD wanted = size > 0x40000000 ? 0x40000000u : static_cast<DWORD>(size);
  DWORD written = 0;
  if (!WriteFile(out, data, wanted, &written, nullptr)) {
    errno = GetLastError() == ERROR_NO_DATA ? EPIPE : EIO;
    return -1;
  }
  return static_cast<ssize_t>(written);
}
