#include "common/clock.h"

#include <atomic>

#include "port/clock.h"

namespace {

// Relaxed: the hooks are set by tests before the code under test runs.
std::atomic<TickSource> tickSource{nullptr};
std::atomic<ClockReader> wallReader{nullptr};
std::atomic<ClockReader> monotonicReader{nullptr};

using SystemClock = bool (*)(timespec*);

// The system clock is a template argument so that its inline reader stays inline.
template <SystemClock readSystem>
bool readClock(const std::atomic<ClockReader>& hook, timespec& now) {
  const ClockReader reader = hook.load(std::memory_order_relaxed);
  if (reader != nullptr) return reader(&now);
  return readSystem(&now);
}

uint32_t tickOf(const timespec& now) {
  const uint64_t seconds = static_cast<uint64_t>(now.tv_sec) % (1u << 20);
  return static_cast<uint32_t>(seconds * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

template <SystemClock readSystem>
uint32_t monotonicTick() {
  const TickSource source = tickSource.load(std::memory_order_relaxed);
  if (source != nullptr) return source();
  timespec now{};
  return readClock<readSystem>(monotonicReader, now) ? tickOf(now) : 0;
}

}  // namespace

uint32_t msTick() { return monotonicTick<portReadMonotonicClock>(); }

uint32_t msTickWithWallClock(int64_t* wallMs) {
  timespec now{};
  *wallMs = readClock<portReadWallClock>(wallReader, now)
                ? static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000
                : -1;
  return msTick();
}

uint32_t msTickCoarse() { return monotonicTick<portReadCoarseMonotonicClock>(); }

uint32_t wallSeconds() {
  timespec now{};
  return readClock<portReadWallClock>(wallReader, now) ? static_cast<uint32_t>(now.tv_sec) : 0;
}

int64_t threadCpuMicros() {
  timespec used{};
  if (!portReadThreadCpuClock(&used)) return -1;
  return static_cast<int64_t>(used.tv_sec) * 1000000 + used.tv_nsec / 1000;
}

void setTickSource(TickSource source) { tickSource.store(source, std::memory_order_relaxed); }

void setClockReaders(ClockReader wall, ClockReader monotonic) {
  wallReader.store(wall, std::memory_order_relaxed);
  monotonicReader.store(monotonic, std::memory_order_relaxed);
}
