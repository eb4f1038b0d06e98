#include "common/clock.h"

#include <time.h>

#include <atomic>

namespace {

std::atomic<TickSource> tickSource{nullptr};

uint32_t tickOf(const timespec& now) {
  const uint64_t seconds = static_cast<uint64_t>(now.tv_sec) % (1u << 20);
  return static_cast<uint32_t>(seconds * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

uint32_t clockTick(clockid_t clock) {
  timespec now{};
  if (clock_gettime(clock, &now) != 0) return 0;
  return tickOf(now);
}

}  // namespace

uint32_t msTick() {
  // Relaxed: the hook is set by tests before the code under test runs.
  const TickSource source = tickSource.load(std::memory_order_relaxed);
  return source != nullptr ? source() : clockTick(CLOCK_REALTIME);
}

uint32_t msTickWithWallClock(int64_t* wallMs) {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
    *wallMs = -1;
    return msTick();
  }
  *wallMs = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  const TickSource source = tickSource.load(std::memory_order_relaxed);
  return source != nullptr ? source() : tickOf(now);
}

uint32_t msTickCoarse() {
  const TickSource source = tickSource.load(std::memory_order_relaxed);
  return source != nullptr ? source() : clockTick(CLOCK_REALTIME_COARSE);
}

uint32_t wallSeconds() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
  return static_cast<uint32_t>(now.tv_sec);
}

int64_t threadCpuMicros() {
  timespec used{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used) != 0) return -1;
  return static_cast<int64_t>(used.tv_sec) * 1000000 + used.tv_nsec / 1000;
}

void setTickSource(TickSource source) { tickSource.store(source, std::memory_order_relaxed); }
