// PerfValues: the counters and times of one timing key, and the arithmetic
// that adds a call's times to them and folds partial values together.
#pragma once

#include <cstdint>

#include "mox/metrics/perf_update.h"

// The values of a record, copied out under its lock.
// Grouped by width so that no padding falls between the fields: a record's
// stripe fits in two cache lines.
struct PerfValues {
  uint32_t active = 0;        // running timings; carried across intervals
  uint32_t finished = 0;      // ended normally in this interval
  uint32_t terminated = 0;    // terminated in this interval
  uint32_t count = 0;         // timings whose times were added
  int32_t sumElapsed = 0;     // divided as unsigned 32-bit
  int32_t sumNetElapsed = 0;  // divided as unsigned 32-bit
  int32_t maxElapsed = 0;
  int32_t maxNetElapsed = 0;
  int32_t minElapsed = -1;  // -1: none yet
  int32_t minNetElapsed = -1;
  int64_t sumCpu = 0;
  int64_t sumNetCpu = 0;
  int64_t maxCpu = -1;
  int64_t maxNetCpu = -1;
  int64_t minCpu = -1;
  int64_t minNetCpu = -1;
  // An update said that the key's component is skipped (PerfUpdate::skipped).
  bool skipped = false;
};

// Which minima a negative time (one not measured) set: a negative minimum
// counts as none, so the next time replaces it whatever it was before. One
// bit per minimum, in the order elapsed, CPU, net elapsed, net CPU.
using RestartedMinima = uint8_t;

// Adds update's times: to the sums, raising the maxima, lowering the minima
// (an unset negative minimum taking any value), counting one. Returns the
// minima that a negative time set.
RestartedMinima addTimes(PerfValues& values, const PerfUpdate& update);

// Folds later partial values into earlier ones, as if the updates behind
// later had been applied to earlier after its own: counters and sums add,
// maxima rise, and each minimum is lowered by later's, or taken from later
// where a negative time set it there (restarted).
void foldLater(PerfValues& earlier, const PerfValues& later, RestartedMinima restarted);
