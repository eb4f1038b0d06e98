// Winsock, started once (version 2.2) and never cleaned up: the host may
// use sockets of its own until the process ends. A SOCKET is a kernel
// handle value, which fits an int. Readiness is waited for with select,
// also where poll was asked for: WSAPoll misses a failed connect on older
// systems, while select reports it in its exception set.
#include <errno.h>

#include "port/socket.h"

namespace {

int errnoFromWinsock(int error) {
  switch (error) {
    case WSAEINTR: return EINTR;
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAEALREADY: return EALREADY;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAECONNRESET:
    case WSAENETRESET: return ECONNRESET;
    case WSAESHUTDOWN: return EPIPE;
    case WSAENOTCONN: return ENOTCONN;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN: return EHOSTUNREACH;
    case WSAENETDOWN: return ENETDOWN;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAETIMEDOUT: return ETIMEDOUT;
    default: return error;  // no errno counterpart: the Winsock number
  }
}

int failed() {
  errno = errnoFromWinsock(WSAGetLastError());
  return -1;
}

SOCKET handle(int sock) { return static_cast<SOCKET>(static_cast<unsigned int>(sock)); }

int waitOnce(int sock, bool readable, int ms) {
  fd_set ready, broken;
  FD_ZERO(&ready);
  FD_ZERO(&broken);
  FD_SET(handle(sock), &ready);
  FD_SET(handle(sock), &broken);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int n = select(0, readable ? &ready : nullptr, readable ? nullptr : &ready, readable ? nullptr : &broken,
                       ms < 0 ? nullptr : &tv);
  return n == SOCKET_ERROR ? failed() : (n > 0 ? 1 : 0);
}

int chunk(size_t size) { return size > 0x40000000 ? 0x40000000 : static_cast<int>(size); }

}  // namespace

bool portStartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

int portSocketOpen(int family) {
  if (!portStartSockets()) {
    errno = ENETDOWN;
    return -1;
  }
  const SOCKET s =
      WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return failed();
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int rc = failed();
    closesocket(s);
    return rc;
  }
  return static_cast<int>(s);
}

int portSocketConnect(int sock, const sockaddr* address, socklen_t length) {
  if (connect(handle(sock), address, length) == 0) return 0;
  failed();
  if (errno == EWOULDBLOCK) errno = EINPROGRESS;  // Winsock's word for a connect under way
  return -1;
}

int portSocketPendingError(int sock, int* pending) {
  int len = sizeof *pending;
  if (getsockopt(handle(sock), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(pending), &len) != 0) return failed();
  *pending = errnoFromWinsock(*pending);
  return 0;
}

ssize_t portSocketSend(int sock, const void* data, size_t count) {
  const int n = send(handle(sock), static_cast<const char*>(data), chunk(count), 0);
  return n == SOCKET_ERROR ? failed() : n;
}

ssize_t portSocketRecv(int sock, void* buffer, size_t size) {
  const int n = recv(handle(sock), static_cast<char*>(buffer), chunk(size), 0);
  return n == SOCKET_ERROR ? failed() : n;
}

void portSocketShutdown(int sock) { shutdown(handle(sock), SD_BOTH); }

void portSocketClose(int sock) { closesocket(handle(sock)); }

int portSocketPoll(int sock, bool readable, int ms) { return waitOnce(sock, readable, ms); }

int portSocketSelect(int sock, bool readable, int ms) { return waitOnce(sock, readable, ms); }

bool portSocketSelectable(int) { return true; }
