// The millisecond tick and its wrap.
#include <gtest/gtest.h>

#include <atomic>

#include "common/clock.h"

namespace {
std::atomic<uint32_t> fakeTick{0};
uint32_t readFakeTick() { return fakeTick.load(); }
}  // namespace

TEST(Clock, TickWrapsThroughTickDiffAndSourceIsReplaceable) {
  EXPECT_EQ(tickDiff(5000, 2000), 3000u);
  EXPECT_EQ(tickDiff(0, TICK_WRAP_MS - 1), 1u);
  fakeTick = TICK_WRAP_MS - 10;
  setTickSource(readFakeTick);
  const uint32_t before = msTick();
  fakeTick = 20;
  const uint32_t after = msTick();
  setTickSource(nullptr);
  EXPECT_EQ(tickDiff(after, before), 30u);
  EXPECT_LT(msTick(), TICK_WRAP_MS);
}

namespace {

std::atomic<int64_t> fakeWallMs{0};
std::atomic<int64_t> fakeMonotonicMs{0};

timespec asTimespec(int64_t ms) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(ms / 1000);
  t.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  return t;
}
bool readFakeWall(timespec* now) {
  *now = asTimespec(fakeWallMs.load());
  return true;
}
bool readFakeMonotonic(timespec* now) {
  *now = asTimespec(fakeMonotonicMs.load());
  return true;
}
bool unreadable(timespec*) { return false; }

struct ClockReadersReset {
  ~ClockReadersReset() { setClockReaders(nullptr, nullptr); }
};

}  // namespace

TEST(Clock, WallClockStepBackDoesNotShowInElapsedTicks) {
  ClockReadersReset reset;
  fakeWallMs = 1700000000500;
  setClockReaders(readFakeWall, nullptr);  // the monotonic clock stays real
  int64_t startWall = 0;
  const uint32_t start = msTickWithWallClock(&startWall);
  fakeWallMs -= 1000;  // an NTP correction between the start and the end of a call
  int64_t endWall = 0;
  const uint32_t end = msTickWithWallClock(&endWall);
  // Start times in texts keep following the wall clock...
  EXPECT_EQ(startWall, 1700000000500);
  EXPECT_EQ(endWall, 1699999999500);
  EXPECT_EQ(wallSeconds(), 1699999999u);
  // ...elapsed times do not: a few milliseconds, not twelve days.
  EXPECT_LT(tickDiff(end, start), 1000u);
  EXPECT_LT(tickDiff(msTick(), start), 1000u);
}

TEST(Clock, MonotonicTickKeepsTheModuloFormAndItsWrap) {
  ClockReadersReset reset;
  setClockReaders(readFakeWall, readFakeMonotonic);
  fakeMonotonicMs = (int64_t{1} << 20) * 1000 * 3 + 1234;  // three wraps after boot
  EXPECT_EQ(msTick(), 1234u);
  EXPECT_EQ(msTickCoarse(), 1234u);
  fakeMonotonicMs = (int64_t{1} << 20) * 1000 - 10;
  const uint32_t before = msTick();
  EXPECT_EQ(before, TICK_WRAP_MS - 10);
  fakeMonotonicMs += 40;
  EXPECT_EQ(tickDiff(msTick(), before), 40u);

  setClockReaders(unreadable, unreadable);
  int64_t wall = 0;
  EXPECT_EQ(msTickWithWallClock(&wall), 0u);
  EXPECT_EQ(wall, -1);
  EXPECT_EQ(wallSeconds(), 0u);
}
