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
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
  }

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
  bool endsByItself() {
    if (finished_.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return false;
    finished_.get();
    return true;
  }
  uint16_t port() const { return collector_.listeners().front().port(); }
  const moxcollect::Stats& stats() const { return collector_.stats(); }
  std::string log() const { return log_.str(); }  // only after stop()

  CapturingSink sink;

 private:
  static moxcollect::CollectorSettings withListen(moxcollect::CollectorSettings settings, const std::string& text) {
    moxcollect::Endpoint endpoint;
    std::string error;
    moxcollect::parseEndpoint(text, endpoint, error);
    settings.listen = {endpoint};
    return settings;
  }

  std::ostringstream log_;
  moxcollect::Collector collector_;
  std::future<bool> finished_;
};

// A connected blocking TCP socket; closes on destruction.
class Client {
 public:
  Client(uint16_t port, bool v6 = false) {
    fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (v6) {
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_port = htons(port);
      address.sin6_addr = in6addr_loopback;
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
  }
  ~Client() { close(); }
  bool connected() const { return connected_; }
  bool send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // Sends in pieces of `piece` bytes, one send() each.
  bool sendInPieces(const std::string& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece) {
      if (!send(bytes.substr(at, piece))) return false;
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
  int fd_ = -1;
  bool connected_ = false;
};

}  // namespace collecttest
