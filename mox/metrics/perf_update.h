// One change to a performance record, applied in a single lock hold.
#pragma once

#include <cstdint>

struct PerfUpdate {
  // Order of application: incActive, then addTimes, then the end operation.
  bool incActive = false;
  bool addTimes = false;
  int32_t elapsedMs = 0;  // milliseconds
  int64_t cpuUs = -1;     // microseconds; -1 when not measured
  int32_t netElapsedMs = 0;
  int64_t netCpuUs = -1;
  enum class End : uint8_t { None, Finished, Terminated } end = End::None;
};
