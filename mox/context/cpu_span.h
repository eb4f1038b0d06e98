// CPU microseconds between two readings of one thread's CPU clock.
#pragma once

#include <cstdint>

#include "common/clock.h"

// now - start; -1 when either reading is missing (-1); a negative difference
// is taken as a wrap and corrected by the tick wrap in microseconds.
inline int64_t cpuSpan(int64_t now, int64_t start) {
  if (start < 0 || now < 0) return -1;
  const int64_t used = now - start;
  return used < 0 ? used + TICK_WRAP_US : used;
}
