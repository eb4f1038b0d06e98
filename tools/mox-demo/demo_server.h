// The demo's server: worker threads handling requests until stopped.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "connection_gauge.h"
#include "request_handler.h"

class DemoServer {
 public:
  // Starts the workers; request numbers of different workers never meet.
  explicit DemoServer(int threads);
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  // Lets each worker finish its request and joins them.
  void stop();

  const RequestCounts& counts() const { return counts_; }
  ConnectionGauge& connections() { return connections_; }

 private:
  void work(int index);

  RequestCounts counts_;
  ConnectionGauge connections_;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> workers_;
};
