#include <errno.h>
#include <poll.h>
#include <sys/select.h>
#include <unistd.h>

#include "port/socket.h"

bool portStartSockets() { return true; }

int portSocketOpen(int family) { return socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

int portSocketConnect(int sock, const sockaddr* address, socklen_t length) { return connect(sock, address, length); }

int portSocketPendingError(int sock, int* pending) {
  socklen_t len = sizeof *pending;
  return getsockopt(sock, SOL_SOCKET, SO_ERROR, pending, &len);
}

ssize_t portSocketSend(int sock, const void* data, size_t count) {
  return send(sock, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
}

ssize_t portSocketRecv(int sock, void* buffer, size_t size) { return recv(sock, buffer, size, MSG_DONTWAIT); }

void portSocketShutdown(int sock) { shutdown(sock, SHUT_RDWR); }

// Linux frees the descriptor even when close reports EINTR.
void portSocketClose(int sock) { close(sock); }

int portSocketPoll(int sock, bool readable, int ms) {
  pollfd p{sock, static_cast<short>(readable ? POLLIN : POLLOUT), 0};
  return poll(&p, 1, ms);
}

int portSocketSelect(int sock, bool readable, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(sock, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(sock + 1, readable ? &set : nullptr, readable ? nullptr : &set, nullptr, ms < 0 ? nullptr : &tv);
}

// FD_SET beyond FD_SETSIZE would write outside the set.
bool portSocketSelectable(int sock) { return sock < FD_SETSIZE; }
