// Real TCP peers on the loopback addresses for the network tests: TcpListener accepts every connection and keeps what
// each one sends; StuckListener never accepts and has its queue full, so that a new connect stays pending. IPv6 (::1)
// where the machine has it (loopbackV6Available).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "support/test_files.h"

namespace testsupport {

// The loopback address of family (AF_INET or AF_INET6) with port, in ss; its size.
inline socklen_t loopbackAddress(int family, uint16_t port, sockaddr_storage& ss) {
  ss = sockaddr_storage{};
  ss.ss_family = static_cast<sa_family_t>(family);
  reinterpret_cast<sockaddr_in*>(&ss)->sin_port = htons(port);  // sin6_port lies at the same offset
  if (family == AF_INET6)
    return reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr = in6addr_loopback, sizeof(sockaddr_in6);
  reinterpret_cast<sockaddr_in*>(&ss)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sizeof(sockaddr_in);
}

// A stream socket bound to the loopback address of family on port (0: any), with SO_REUSEPORT so that a second socket
// may hold the same port; -1 on failure.
inline int boundLoopbackSocket(int family, uint16_t port) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  sockaddr_storage address;
  const socklen_t size = loopbackAddress(family, port, address);
  if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) == 0 &&
      bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0) {
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

inline uint16_t localPort(int fd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
  // sin_port and sin6_port lie at the same offset.
  return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

inline bool loopbackV6Available() {
  const int fd = boundLoopbackSocket(AF_INET6, 0);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// All descriptors are owned by the serving thread; the test thread reads under the lock and has changes run there
// (run()).
class TcpListener {
 public:
  // port 0: a free port.
  explicit TcpListener(int family = AF_INET, uint16_t port = 0) : family_(family) {
    listenFd_ = boundLoopbackSocket(family, port);
    if (listenFd_ < 0 || listen(listenFd_, 128) != 0 || pipe2(wake_, O_CLOEXEC) != 0) return;
    port_ = localPort(listenFd_);
    reserveFd_ = boundLoopbackSocket(family_, port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~TcpListener() {
    if (thread_.joinable()) run([this] { stopping_ = true; }), thread_.join();
    for (const Conn& c : conns_) close(c.fd);
    for (int fd : {listenFd_, reserveFd_, wake_[0], wake_[1]}) close(fd);  // -1 does no harm
  }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  bool ok() const { return thread_.joinable() && reserveFd_ >= 0; }
  uint16_t port() const { return port_; }

  size_t accepted() const {
    return locked([&] { return conns_.size(); });
  }
  size_t open() const {
    return locked(
        [&] { return size_t(std::count_if(conns_.begin(), conns_.end(), [](auto& c) { return c.fd >= 0; })); });
  }
  // What the connection accepted as number index (from 0) sent.
  std::string bytes(size_t index) const {
    return locked([&] { return index < conns_.size() ? conns_[index].data : std::string(); });
  }
  std::string allBytes() const {
    return locked([&] {
      std::string all;
      for (const Conn& c : conns_) all += c.data;
      return all;
    });
  }

  // Closes every accepted connection with a reset (as a crashed peer would).
  void resetConnections() {
    run([this] {
      for (Conn& c : conns_) {
        const linger abort{1, 0};
        if (c.fd >= 0) setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), close(c.fd), c.fd = -1;
      }
    });
  }
  // Stops listening and resets the connections: new connects are refused, while the port stays held for up().
  void down() {
    resetConnections();
    run([this] { close(listenFd_), listenFd_ = -1; });
  }
  void up() {
    run([this] {
      if (listenFd_ >= 0 || listen(reserveFd_, 128) != 0) return;
      listenFd_ = reserveFd_;
      reserveFd_ = boundLoopbackSocket(family_, port_);
    });
  }

  bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
    return waitUntil(pred, limit);
  }
  bool waitForBytes(size_t total, std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
    return waitFor([&] { return allBytes().size() >= total; }, limit);
  }

 private:
  struct Conn {
    int fd;
    std::string data;
  };

  template <typename F>
  std::invoke_result_t<F> locked(F f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

  // Runs a change on the serving thread and waits for it.
  void run(std::function<void()> change) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ = std::move(change);
    const char wakeByte = 1;
    if (write(wake_[1], &wakeByte, 1) == 1) done_.wait(lock, [this] { return !pending_; });
  }

  // Only this thread changes the descriptors and conns_, so it reads them without the lock.
  void serve() {
    char buf[65536];
    for (;;) {
      std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
      for (const Conn& c : conns_) fds.push_back({c.fd, POLLIN, 0});  // poll skips a closed one (-1)
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      char drained;
      if (fds[0].revents != 0 && read(wake_[0], &drained, 1) == 1 && pending_) {
        pending_();
        pending_ = nullptr;
        done_.notify_all();
        if (stopping_) return;
        continue;  // the descriptors may have changed
      }
      if (fds[1].revents != 0) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) conns_.push_back({fd, std::string()});
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        Conn& c = conns_[i - 2];
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) c.data.append(buf, static_cast<size_t>(n));
        if (n <= 0) close(c.fd), c.fd = -1;
      }
    }
  }

  int family_;
  int listenFd_ = -1;
  int reserveFd_ = -1;
  uint16_t port_ = 0;
  int wake_[2] = {-1, -1};
  bool stopping_ = false;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  std::function<void()> pending_;
  std::vector<Conn> conns_;
};

// A listener that never accepts, with its queue filled by connections of its own until one stays pending: further
// connects to it stay pending too.
class StuckListener {
 public:
  StuckListener() : listenFd_(boundLoopbackSocket(AF_INET, 0)) {
    if (listenFd_ < 0 || listen(listenFd_, 0) != 0) return;
    sockaddr_storage to;
    const socklen_t size = loopbackAddress(AF_INET, port(), to);
    for (int i = 0; i < 32 && !stuck_; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      fillers_.push_back(fd);
      if (connect(fd, reinterpret_cast<sockaddr*>(&to), size) == 0) continue;
      // A loopback connect that the queue takes completes at once; one still pending after this long has had its SYN
      // dropped.
      pollfd p{fd, POLLOUT, 0};
      stuck_ = poll(&p, 1, 300) == 0;
    }
  }
  ~StuckListener() {
    for (int fd : fillers_) close(fd);
    close(listenFd_);
  }
  StuckListener(const StuckListener&) = delete;
  StuckListener& operator=(const StuckListener&) = delete;
  bool ok() const { return stuck_; }
  uint16_t port() const { return localPort(listenFd_); }

 private:
  int listenFd_;
  bool stuck_ = false;
  std::vector<int> fillers_;
};

}  // namespace testsupport
