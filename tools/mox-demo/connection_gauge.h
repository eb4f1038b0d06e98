// The database connections the demo's workers hold, tracked as a host tracks
// a resource it reports itself (MOX_reportResource): the number in use, the
// most and fewest in use since the previous reading, and how many were taken.
#pragma once

#include <cstdint>
#include <mutex>

class ConnectionGauge {
 public:
  struct Reading {
    int64_t inUse = 0;
    int64_t high = 0;  // since the previous reading
    int64_t low = 0;
    uint32_t taken = 0;
  };

  void take();
  void giveBack();
  // The values since the previous reading; the next period's watermarks start
  // at the number in use now.
  Reading read();

 private:
  std::mutex mutex_;
  Reading now_;
};
