// The tick arithmetic of the two timer threads, kept pure so that it can be
// checked without threads. Each timer calls its step once a second with the
// interval read anew; fire means "signal the dispatcher's event now".
#pragma once

#include <cstdint>

struct TimerStep {
  uint32_t counter;
  bool fire;
};

// Trace timer: the counter rises by 2 a tick, so the event comes every
// floor(interval / 2) + 1 seconds (5 -> 3 s, 4 -> 3 s, 2 -> 2 s, 1 -> 1 s).
inline TimerStep traceTimerStep(uint32_t counter, uint32_t interval) {
  ++counter;
  if (counter < interval) return {counter + 1, false};
  return {0, true};
}

// Data timer: the event comes every interval + 1 seconds (60 -> 61 s).
inline TimerStep dataTimerStep(uint32_t counter, uint32_t interval) {
  if (counter < interval) return {counter + 1, false};
  return {0, true};
}
