#include "common/clock.h"

#include <atomic>

namespace {

// Relaxed: the hooks are set by tests before the code under test runs.
std::atomic<TickSource> tickSource{nullptr};
std::atomic<ClockReader> wallReader{nullptr};
std::atomic<ClockReader> monotonicReader{nullptr};

bool readClock(const std::atomic<ClockReader>& hook, clockid_t clock, timespec& now) {
  const ClockReader reader = hook.load(std::memory_order_relaxed);
  if (reader != nullptr) return reader(&now);
  return clock_gettime(clock, &now) == 0;
}

uint32_t tickOf(const timespec& now) {
  const uint64_t seconds = static_cast<uint64_t>(now.tv_sec) % (1u << 20);
  return static_cast<uint32_t>(seconds * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

uint32_t monotonicTick(clockid_t clock) {
  const TickSource source = tickSource.load(std::memory_order_relaxed);
  if (source != nullptr) return source();
  timespec now{};
  return readClock(monotonicReader, clock, now) ? tickOf(now) : 0;
}

}  // namespace

uint32_t msTick() { return monotonicTick(CLOCK_MONOTONIC); }

uint32_t msTickWithWallClock(int64_t* wallMs) {
  timespec now{};
  *wallMs = readClock(wallReader, CLOCK_REALTIME, now) ? static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000
                                                       : -1;
  return msTick();
}

uint32_t msTickCoarse() { return monotonicTick(CLOCK_MONOTONIC_COARSE); }

uint32_t wallSeconds() {
  timespec now{};
  return readClock(wallReader, CLOCK_REALTIME, now) ? static_cast<uint32_t>(now.tv_sec) : 0;
}

int64_t threadCpuMicros() {
  timespec used{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used) != 0) return -1;
  return static_cast<int64_t>(used.tv_sec) * 1000000 + used.tv_nsec / 1000;
}

void setTickSource(TickSource source) { tickSource.store(source, std::memory_order_relaxed); }

void setClockReaders(ClockReader wall, ClockReader monotonic) {
  wallReader.store(wall, std::memory_order_relaxed);
  monotonicReader.store(monotonic, std::memory_order_relaxed);
}
