// A collector running on its own thread on an ephemeral loopback port, a sink
// that keeps what it gets, and a blocking TCP client.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "collector.h"

namespace collecttest {

class CapturingSink : public moxcollect::RecordSink {
 public:
  void write(const moxcollect::Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(record);
  }
  std::vector<moxcollect::Record> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  size_t size() const { return records().size(); }

 private:
  mutable std::mutex mutex_;
  std::vector<moxcollect::Record> records_;
};

class RunningCollector {
 public:
  explicit RunningCollector(moxcollect::CollectorSettings settings = {}, const std::string& listen = "127.0.0.1:0")
      : collector_(withListen(std::move(settings), listen), {&sink}, log_) {}
  ~RunningCollector() { stop(); }

  // False when the address cannot be bound (e.g. no IPv6 on this machine).
  bool start() {
    if (!collector_.open()) return false;
    finished_ = std::async(std::launch::async, [this] { return collector_.run(); });
    return true;
  }
  void stop() {
    if (!finished_.valid()) return;
    collector_.requestStop();
    finished_.get();
  }
  // Waits for the collector to stop by itself; false if it is still running after 20 s.
  bool endsByItself() { return finished_.wait_for(std::chrono::seconds(20)) == std::future_status::ready; }
  uint16_t port() const { return collector_.listeners().front().port(); }
  const moxcollect::Stats& stats() const { return collector_.stats(); }
  std::string log() const { return log_.str(); }  // only after stop()

  CapturingSink sink;

 private:
  static moxcollect::CollectorSettings withListen(moxcollect::CollectorSettings settings, const std::string& text) {
    std::string error;
    settings.listen.resize(1);
    moxcollect::parseEndpoint(text, settings.listen[0], error);
    return settings;
  }

  std::ostringstream log_;
  moxcollect::Collector collector_;
  std::future<bool> finished_;
};

// A connected blocking TCP socket to the loopback address; closes on destruction.
class Client {
 public:
  explicit Client(uint16_t port, bool v6 = false) : fd_(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in6 a6{AF_INET6, htons(port), 0, in6addr_loopback, 0};
    sockaddr_in a4{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    connected_ = v6 ? ::connect(fd_, reinterpret_cast<sockaddr*>(&a6), sizeof a6) == 0
                    : ::connect(fd_, reinterpret_cast<sockaddr*>(&a4), sizeof a4) == 0;
  }
  ~Client() { close(); }
  bool connected() const { return connected_; }
  // Sends in pieces of `piece` bytes, one send() each.
  bool send(const std::string& bytes, size_t piece = SIZE_MAX) {
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }
  // Waits (at most 20 s) for the other side to close the connection.
  bool closedByPeer() {
    timeval limit{20, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char byte;
    return ::recv(fd_, &byte, 1, 0) == 0;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool connected_ = false;
};

}  // namespace collecttest
