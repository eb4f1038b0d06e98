// The millisecond tick: its wrap, and wall clock steps that must not show in it.
#include <gtest/gtest.h>

#include <atomic>

#include "common/clock.h"

namespace {

std::atomic<int64_t> fakeWallMs{0};
std::atomic<int64_t> fakeMonotonicMs{0};

template <std::atomic<int64_t>* ms>
bool readFake(timespec* now) {
  *now = timespec{static_cast<time_t>(*ms / 1000), static_cast<long>(*ms % 1000) * 1000000L};
  return true;
}
bool unreadable(timespec*) { return false; }

struct ClockReadersReset {
  ~ClockReadersReset() { setClockReaders(nullptr, nullptr); }
};

TEST(Clock, WallClockStepBackDoesNotShowInElapsedTicks) {
  ClockReadersReset reset;
  fakeWallMs = 1700000000500;
  setClockReaders(readFake<&fakeWallMs>, nullptr);  // the monotonic clock stays real
  int64_t startWall = 0, endWall = 0;
  const uint32_t start = msTickWithWallClock(&startWall);
  fakeWallMs -= 1000;  // an NTP correction between the start and the end of a call
  const uint32_t end = msTickWithWallClock(&endWall);
  // Start times in texts keep following the wall clock, elapsed times do not.
  EXPECT_EQ(startWall, 1700000000500);
  EXPECT_EQ(endWall, 1699999999500);
  EXPECT_EQ(wallSeconds(), 1699999999u);
  EXPECT_LT(tickDiff(end, start), 1000u);
  EXPECT_LT(tickDiff(msTick(), start), 1000u);
}

TEST(Clock, MonotonicTickKeepsTheModuloFormAndItsWrap) {
  ClockReadersReset reset;
  setClockReaders(readFake<&fakeWallMs>, readFake<&fakeMonotonicMs>);
  fakeMonotonicMs = (int64_t{1} << 20) * 1000 * 3 + 1234;  // three wraps after boot
  EXPECT_EQ(msTick(), 1234u);
  EXPECT_EQ(msTickCoarse(), 1234u);
  fakeMonotonicMs = (int64_t{1} << 20) * 1000 - 10;
  const uint32_t before = msTick();
  EXPECT_EQ(before, TICK_WRAP_MS - 10);
  fakeMonotonicMs += 40;
  EXPECT_EQ(tickDiff(msTick(), before), 40u);
  EXPECT_EQ(tickDiff(5000, 2000), 3000u);

  setClockReaders(unreadable, unreadable);
  int64_t wall = 0;
  EXPECT_EQ(msTickWithWallClock(&wall), 0u);
  EXPECT_EQ(wall, -1);
  EXPECT_EQ(wallSeconds(), 0u);
}

}  // namespace
