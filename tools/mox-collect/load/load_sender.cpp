#include "load_sender.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace moxload {

namespace {

using Clock = std::chrono::steady_clock;

// Closes its sockets whatever way sending ends.
class Sockets {
 public:
  ~Sockets() {
    for (int fd : fds_) close(fd);
  }
  void add(int fd) { fds_.push_back(fd); }
  int operator[](size_t i) const { return fds_[i]; }

 private:
  std::vector<int> fds_;
};

int connectTo(const std::string& host, uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    error = host + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = std::string("connect: ") + std::strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

bool sendAll(int fd, const std::string& bytes, std::string& error) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = std::string("send: ") + std::strerror(errno);
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

SendResult sendLoad(const std::string& host, uint16_t port, const SendPlan& plan) {
  SendResult result;
  Sockets sockets;
  for (int p = 0; p < plan.shape.processes; ++p) {
    const int fd = connectTo(host, port, result.error);
    if (fd < 0) return result;
    sockets.add(fd);
  }
  const auto start = Clock::now();
  std::string block;
  for (int p = 0; p < plan.shape.processes; ++p) {
    block.clear();
    appendVersionLine(block, p);
    if (!sendAll(sockets[static_cast<size_t>(p)], block, result.error)) return result;
    result.lines += 1;
    result.bytes += static_cast<int64_t>(block.size());
  }
  for (int interval = 0; interval < plan.intervals; ++interval) {
    if (plan.periodSeconds > 0) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(plan.periodSeconds * interval));
    }
    for (int p = 0; p < plan.shape.processes; ++p) {
      block.clear();
      appendInterval(block, plan.shape, p, interval);
      if (!sendAll(sockets[static_cast<size_t>(p)], block, result.error)) return result;
      result.lines += linesPerInterval(plan.shape);
      result.bytes += static_cast<int64_t>(block.size());
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.ok = true;
  return result;
}

}  // namespace moxload
