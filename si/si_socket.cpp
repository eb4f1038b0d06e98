// Socket creation, connect, shutdown and close, and the errno classification.
#include <errno.h>

#include "si/si.h"

int SiClassifyErrno(int err) {
  switch (err) {
    case 0: return SI_OK;
    case EINTR: return SI_EINTR;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return SI_EWOULDBLOCK;
    case EINPROGRESS:
    case EALREADY: return SI_EINPROGRESS;
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE:
#if defined(ESHUTDOWN)
    case ESHUTDOWN:
#endif
    case ENOTCONN: return SI_ECONN_BROKEN;
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
#if defined(EHOSTDOWN)
    case EHOSTDOWN:
#endif
    case EADDRNOTAVAIL:
    case ETIMEDOUT: return SI_ECONN_REFUSED;
    default: return SI_EINTERN;
  }
}

namespace {
int failWith(int err, int* sysErr) {
  if (sysErr) *sysErr = err;
  return SiClassifyErrno(err);
}
}  // namespace

bool SiStartup() { return portStartSockets(); }

int SiSocket(int family, int* sock, int* sysErr) {
  if (sysErr) *sysErr = 0;
  *sock = portSocketOpen(family);
  if (*sock < 0) {
    const int err = errno;
    if (sysErr) *sysErr = err;
    return SI_EINTERN;  // no socket at all is never a matter of the peer
  }
  return SI_OK;
}

int SiConnect(int sock, const sockaddr* addr, socklen_t len, int* sysErr) {
  if (sysErr) *sysErr = 0;
  if (portSocketConnect(sock, addr, len) == 0) return SI_OK;
  const int err = errno;
  // An interrupted non-blocking connect goes on in the background like EINPROGRESS.
  if (err == EINTR) return failWith(EINPROGRESS, sysErr);
  return failWith(err, sysErr);
}

int SiConnectResult(int sock, int* sysErr) {
  if (sysErr) *sysErr = 0;
  int pending = 0;
  if (portSocketPendingError(sock, &pending) != 0) return failWith(errno, sysErr);
  if (pending == 0) return SI_OK;
  return failWith(pending, sysErr);
}

void SiShutdown(int sock) { portSocketShutdown(sock); }

void SiClose(int sock) { portSocketClose(sock); }
