// One send or receive on a non-blocking socket.
#include <errno.h>

#include "si/si.h"

int SiSend(int sock, const void* data, size_t count, size_t* sent, int* sysErr) {
  *sent = 0;
  if (sysErr) *sysErr = 0;
  const ssize_t n = portSocketSend(sock, data, count);
  if (n >= 0) {
    *sent = static_cast<size_t>(n);
    return SI_OK;
  }
  const int err = errno;
  if (sysErr) *sysErr = err;
  return SiClassifyErrno(err);
}

int SiRecv(int sock, void* buf, size_t len, size_t* received, int* sysErr) {
  *received = 0;
  if (sysErr) *sysErr = 0;
  const ssize_t n = portSocketRecv(sock, buf, len);
  if (n > 0) {
    *received = static_cast<size_t>(n);
    return SI_OK;
  }
  if (n == 0) return SI_ECONN_BROKEN;  // the peer ended the stream
  const int err = errno;
  if (sysErr) *sysErr = err;
  return SiClassifyErrno(err);
}
