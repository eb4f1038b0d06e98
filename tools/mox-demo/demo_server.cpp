#include "demo_server.h"

DemoServer::DemoServer(int threads) {
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this, i] { work(i); });
}

DemoServer::~DemoServer() { stop(); }

void DemoServer::stop() {
  stopping_ = true;
  for (auto& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

void DemoServer::work(int index) {
  std::mt19937 rng(1234u + static_cast<unsigned>(index));
  for (long number = index * 1000000L; !stopping_.load(); ++number) handleRequest(number, rng, counts_, connections_);
}
