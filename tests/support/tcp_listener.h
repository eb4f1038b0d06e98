// Real TCP peers on the loopback addresses for the network tests:
// TcpListener accepts every connection and keeps what each one sends;
// StuckListener never accepts and has its queue full, so that a new connect
// stays pending. IPv6 (::1) where the machine has it (loopbackV6Available).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A stream socket bound to the loopback address of family on port (0: any),
// with SO_REUSEPORT so that a second socket may hold the same port; -1 on failure.
inline int boundLoopbackSocket(int family, uint16_t port) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
  sockaddr_storage ss{};
  socklen_t len;
  if (family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    a->sin6_port = htons(port);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a->sin_port = htons(port);
    len = sizeof *a;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline uint16_t localPort(int fd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
  return ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

inline bool loopbackV6Available() {
  const int fd = boundLoopbackSocket(AF_INET6, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// A port on which connects are refused: bound, never listening (held until destruction).
class RefusingPort {
 public:
  explicit RefusingPort(int family = AF_INET) : fd_(boundLoopbackSocket(family, 0)) {}
  ~RefusingPort() {
    if (fd_ >= 0) close(fd_);
  }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  uint16_t port() const { return fd_ >= 0 ? localPort(fd_) : 0; }

 private:
  int fd_;
};

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
    if (thread_.joinable()) {
      run([this] { stopping_ = true; });
      thread_.join();
    }
    for (Conn& c : conns_) {
      if (c.fd >= 0) close(c.fd);
    }
    for (int fd : {listenFd_, reserveFd_, wake_[0], wake_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  bool ok() const { return thread_.joinable() && reserveFd_ >= 0; }
  uint16_t port() const { return port_; }

  size_t accepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return conns_.size();
  }
  size_t open() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const Conn& c : conns_) n += c.fd >= 0 ? 1 : 0;
    return n;
  }
  // What the connection accepted as number index (from 0) sent.
  std::string bytes(size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return index < conns_.size() ? conns_[index].data : std::string();
  }
  std::string allBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const Conn& c : conns_) all += c.data;
    return all;
  }

  // Sends bytes to every open connection.
  void sendToAll(const std::string& bytes) {
    run([&] {
      for (Conn& c : conns_) {
        if (c.fd >= 0 && send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) continue;
      }
    });
  }
  // Closes every accepted connection with a reset (as a crashed peer would).
  void resetConnections() {
    run([this] {
      for (Conn& c : conns_) {
        if (c.fd < 0) continue;
        const linger abort{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(c.fd);
        c.fd = -1;
      }
    });
  }
  // Stops listening and resets the connections: new connects are refused,
  // while the port stays held for up().
  void down() {
    resetConnections();
    run([this] {
      close(listenFd_);
      listenFd_ = -1;
    });
  }
  void up() {
    run([this] {
      if (listenFd_ >= 0 || listen(reserveFd_, 128) != 0) return;
      listenFd_ = reserveFd_;
      reserveFd_ = boundLoopbackSocket(family_, port_);
    });
  }

  // Waits (polling) until pred holds.
  bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  bool waitForBytes(size_t total, std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
    return waitFor([&] { return allBytes().size() >= total; }, limit);
  }

 private:
  struct Conn {
    int fd;
    std::string data;
  };

  // Runs a change on the serving thread (which owns the descriptors) and waits for it.
  void run(std::function<void()> change) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ = std::move(change);
    const char wakeByte = 1;
    if (write(wake_[1], &wakeByte, 1) != 1) return;
    done_.wait(lock, [this] { return !pending_; });
  }

  void serve() {
    std::vector<pollfd> fds;
    char buf[65536];
    for (;;) {
      fds.clear();
      fds.push_back({wake_[0], POLLIN, 0});
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
        for (const Conn& c : conns_) {
          if (c.fd >= 0) fds.push_back({c.fd, POLLIN, 0});
        }
      }
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      if (fds[0].revents != 0) {
        char drained;
        if (read(wake_[0], &drained, 1) == 1 && pending_) {
          pending_();
          pending_ = nullptr;
          done_.notify_all();
          if (stopping_) return;
        }
        continue;  // the descriptors may have changed
      }
      for (const pollfd& p : fds) {
        if (p.revents == 0 || p.fd == wake_[0]) continue;
        if (p.fd == listenFd_) {
          const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
          if (fd >= 0) conns_.push_back({fd, std::string()});
          continue;
        }
        for (Conn& c : conns_) {
          if (c.fd != p.fd) continue;
          const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
          if (n > 0) {
            c.data.append(buf, static_cast<size_t>(n));
          } else {
            close(c.fd);
            c.fd = -1;
          }
        }
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

// A listener that never accepts, with its queue filled by connections of its
// own until one stays pending: further connects to it stay pending too.
class StuckListener {
 public:
  StuckListener() : listenFd_(boundLoopbackSocket(AF_INET, 0)) {
    if (listenFd_ < 0 || listen(listenFd_, 0) != 0) return;
    for (int i = 0; i < 32 && !stuck_; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(port());
      fillers_.push_back(fd);
      if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) continue;
      // A loopback connect that the queue takes completes at once; one
      // still pending after this long has had its SYN dropped.
      pollfd p{fd, POLLOUT, 0};
      stuck_ = poll(&p, 1, 300) == 0;
    }
  }
  ~StuckListener() {
    for (int fd : fillers_) close(fd);
    if (listenFd_ >= 0) close(listenFd_);
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

// Number of open file descriptors of this process.
inline int openDescriptors() {
  int n = 0;
  for (int fd = 0; fd < 4096; ++fd) n += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return n;
}

}  // namespace testsupport
