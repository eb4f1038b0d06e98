// Sends the simulated stream to a collector over TCP: one connection per
// process, as the library's metric connection would be.
#pragma once

#include <cstdint>
#include <string>

#include "load_stream.h"

namespace moxload {

struct SendPlan {
  LoadShape shape;
  int intervals = 10;
  // Seconds between the starts of two intervals; 0 sends them back to back.
  double periodSeconds = 0;
};

struct SendResult {
  bool ok = false;
  std::string error;
  int64_t lines = 0;  // version lines included
  int64_t bytes = 0;
  double seconds = 0;
};

// Connects every process to host:port, sends its version line and then the
// intervals (each round goes through all processes), and closes. Blocks.
SendResult sendLoad(const std::string& host, uint16_t port, const SendPlan& plan);

}  // namespace moxload
