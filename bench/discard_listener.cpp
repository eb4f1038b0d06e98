#include "discard_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

DiscardListener::DiscardListener() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 16) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      pipe2(wakeFds_, O_CLOEXEC) != 0) {
    if (listenFd_ >= 0) close(listenFd_);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { run(); });
}

DiscardListener::~DiscardListener() {
  const char wake = 0;
  if (write(wakeFds_[1], &wake, 1) != 1) {
    // The pipe is empty and ours: a failed write leaves nothing to do.
  }
  thread_.join();
  close(listenFd_);
  close(wakeFds_[0]);
  close(wakeFds_[1]);
}

// Entry 0 is the wake pipe, entry 1 the listener, the rest the connections.
void DiscardListener::run() {
  std::vector<pollfd> watched = {{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
  std::vector<char> buffer(1 << 16);
  for (;;) {
    if (poll(watched.data(), watched.size(), -1) < 0) continue;
    if (watched[0].revents != 0) break;
    if (watched[1].revents & POLLIN) {
      const int connection = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) watched.push_back({connection, POLLIN, 0});
    }
    for (size_t i = 2; i < watched.size();) {
      if (watched[i].revents == 0) {
        ++i;
        continue;
      }
      const ssize_t got = read(watched[i].fd, buffer.data(), buffer.size());
      if (got > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) bytesRead_.fetch_add(static_cast<uint64_t>(got));
        ++i;
      } else {
        close(watched[i].fd);
        watched.erase(watched.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  for (size_t i = 2; i < watched.size(); ++i) close(watched[i].fd);
}
