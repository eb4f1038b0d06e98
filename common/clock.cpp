#include "common/clock.h"

#include <atomic>

#include "common/wall_from_monotonic.h"
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

using clockdetail::tickOf;

template <SystemClock readSystem>
uint32_t monotonicTick() {
  const TickSource source = tickSource.load(std::memory_order_relaxed);
  if (source != nullptr) return source();
  timespec now{};
  return readClock<readSystem>(monotonicReader, now) ? tickOf(now) : 0;
}

int64_t nsOf(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

// Start times of units of work from the monotonic read they take anyway; a
// wall-clock step shows within 100 ms (wall_from_monotonic.h).
constexpr int64_t kWallOffsetRefreshNs = 100000000;
WallFromMonotonic derivedWall(kWallOffsetRefreshNs);

bool clockHooksSet() { return clockdetail::hooked.load(std::memory_order_relaxed); }

void noteHooks() {
  clockdetail::hooked.store(tickSource.load(std::memory_order_relaxed) != nullptr ||
                                wallReader.load(std::memory_order_relaxed) != nullptr ||
                                monotonicReader.load(std::memory_order_relaxed) != nullptr,
                            std::memory_order_relaxed);
}

// Both clocks read, as tests that drive them expect.
uint32_t msTickWithWallClockRead(int64_t* wallMs) {
  timespec now{};
  *wallMs = readClock<portReadWallClock>(wallReader, now)
                ? static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000
                : -1;
  return monotonicTick<portReadMonotonicClock>();
}

}  // namespace

std::atomic<bool> clockdetail::hooked{false};

uint32_t clockdetail::hookedTick() { return monotonicTick<portReadMonotonicClock>(); }

uint32_t msTickWithWallClock(int64_t* wallMs) {
  if (clockHooksSet()) return msTickWithWallClockRead(wallMs);
  timespec mono{};
  if (!portReadMonotonicClock(&mono)) return msTickWithWallClockRead(wallMs);
  *wallMs = derivedWall.wallMsAt(nsOf(mono), [](int64_t& wallNs) {
    timespec wall{};
    if (!portReadWallClock(&wall)) return false;
    wallNs = nsOf(wall);
    return true;
  });
  return tickOf(mono);
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

void setTickSource(TickSource source) {
  tickSource.store(source, std::memory_order_relaxed);
  noteHooks();
}

void setClockReaders(ClockReader wall, ClockReader monotonic) {
  wallReader.store(wall, std::memory_order_relaxed);
  monotonicReader.store(monotonic, std::memory_order_relaxed);
  noteHooks();
}
