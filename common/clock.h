// The clocks of the measurement core.
//
// Millisecond tick: (seconds of the monotonic clock modulo 2^20) * 1000 +
// milliseconds of the current second, unsigned 32-bit; 0 when the clock
// cannot be read. It wraps every 1,048,576 seconds like a tick taken from the
// wall clock would, but a step of the wall clock (an NTP correction, an
// operator setting the date) never shows in a difference of two ticks. Wall
// times (start times printed in texts, resource times) come from the wall
// clock.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

#include "port/clock.h"

constexpr uint32_t TICK_WRAP_MS = 1048576000u;
constexpr int64_t TICK_WRAP_US = 1048576000000LL;

namespace clockdetail {
// Set while a test hook replaces a clock or the tick source.
extern std::atomic<bool> hooked;
uint32_t hookedTick();
inline uint32_t tickOf(const timespec& now) {
  const uint64_t seconds = static_cast<uint64_t>(now.tv_sec) % (1u << 20);
  return static_cast<uint32_t>(seconds * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000);
}
}  // namespace clockdetail

// Inline: the timing path reads it at every start and end of a call.
inline uint32_t msTick() {
  if (clockdetail::hooked.load(std::memory_order_relaxed)) return clockdetail::hookedTick();
  timespec now{};
  return portReadMonotonicClock(&now) ? clockdetail::tickOf(now) : 0;
}
// The tick, and the wall clock as milliseconds since 1970 (-1 when
// unreadable): for the first call of a unit of work, which needs both. The
// wall clock is derived from the tick's own monotonic read and an offset
// measured every 100 ms (wall_from_monotonic.h), so one clock is read; with
// a test hook set, both are read.
uint32_t msTickWithWallClock(int64_t* wallMs);
// A tick of a few milliseconds' resolution at a fraction of the cost, for
// ages that are compared with time-outs of seconds (context look-ups).
uint32_t msTickCoarse();
// later - earlier; when later < earlier the wrap (1,048,576,000) is added.
inline uint32_t tickDiff(uint32_t later, uint32_t earlier) {
  return later >= earlier ? later - earlier : later + (TICK_WRAP_MS - earlier);
}
// Wall-clock seconds since 1970 as unsigned 32-bit; 0 when unreadable.
uint32_t wallSeconds();
// Kernel plus user CPU time of the calling thread in microseconds; -1 when it
// cannot be read.
int64_t threadCpuMicros();

// ---- test hooks -------------------------------------------------------------
// Tests replace the tick source to drive ages and wraps; nullptr restores the
// monotonic clock.
using TickSource = uint32_t (*)();
void setTickSource(TickSource source);
// Tests replace the clocks underneath: a reader fills now and returns false
// when the clock cannot be read. nullptr restores the system's clock. The
// monotonic reader also stands in for the coarse monotonic clock.
using ClockReader = bool (*)(timespec* now);
void setClockReaders(ClockReader wall, ClockReader monotonic);
