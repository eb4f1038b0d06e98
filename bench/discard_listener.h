// A collecting agent for the socket agent's measurement: listens on
// 127.0.0.1 at a port of the system's choosing, accepts every connection and
// reads and discards what arrives, on a thread of its own until destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class DiscardListener {
 public:
  // Throws std::runtime_error when it cannot listen.
  DiscardListener();
  ~DiscardListener();
  DiscardListener(const DiscardListener&) = delete;
  DiscardListener& operator=(const DiscardListener&) = delete;

  unsigned port() const { return port_; }
  uint64_t bytesRead() const { return bytesRead_.load(); }

 private:
  void run();

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  unsigned port_ = 0;
  std::atomic<uint64_t> bytesRead_{0};
  std::thread thread_;
};
