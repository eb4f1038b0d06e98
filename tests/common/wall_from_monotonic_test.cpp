#include "common/wall_from_monotonic.h"

#include <gtest/gtest.h>
#include <time.h>

#include "common/clock.h"

namespace {

constexpr int64_t kMs = 1000000;

// A wall clock the test sets; counts its reads.
struct FakeWall {
  int64_t ns = 0;
  bool readable = true;
  int reads = 0;
  auto reader() {
    return [this](int64_t& out) {
      ++reads;
      out = ns;
      return readable;
    };
  }
};

TEST(WallFromMonotonicTest, OffsetIsMeasuredOncePerPeriodAndAStepShowsAfterIt) {
  WallFromMonotonic wall(100 * kMs);
  FakeWall clock;
  clock.ns = 1700000000000 * kMs + 123456789;  // .123456789 s past a whole second
  EXPECT_EQ(wall.wallMsAt(5 * kMs, clock.reader()), 1700000000123);
  // Inside the period: derived, to the millisecond, without a read.
  EXPECT_EQ(wall.wallMsAt(5 * kMs + 76543211, clock.reader()), 1700000000200);  // a whole millisecond
  EXPECT_EQ(wall.wallMsAt(5 * kMs + 99 * kMs, clock.reader()), 1700000000222);
  EXPECT_EQ(clock.reads, 1);

  // The wall clock steps back an hour: derived times follow after the period.
  clock.ns = 1700000000000 * kMs - 3600000 * kMs;
  EXPECT_EQ(wall.wallMsAt(5 * kMs + 100 * kMs, clock.reader()), 1700000000000 - 3600000);
  EXPECT_EQ(clock.reads, 2);
  EXPECT_EQ(wall.wallMsAt(5 * kMs + 150 * kMs, clock.reader()), 1700000000000 - 3600000 + 50);
}

TEST(WallFromMonotonicTest, UnreadableWallClockGivesMinusOneUntilItReadsAgain) {
  WallFromMonotonic wall(100 * kMs);
  FakeWall clock;
  clock.readable = false;
  EXPECT_EQ(wall.wallMsAt(kMs, clock.reader()), -1);
  EXPECT_EQ(wall.wallMsAt(2 * kMs, clock.reader()), -1);  // nothing measured: read again
  clock.readable = true;
  clock.ns = 42 * kMs;
  EXPECT_EQ(wall.wallMsAt(3 * kMs, clock.reader()), 42);
  // A monotonic time before the measurement (another thread's older read) measures again.
  clock.ns = 41 * kMs;
  EXPECT_EQ(wall.wallMsAt(2 * kMs, clock.reader()), 41);
  EXPECT_EQ(clock.reads, 4);
}

// The library's start times against the system's wall clock read around them.
TEST(WallFromMonotonicTest, StartTimesMatchTheSystemWallClockToTheMillisecond) {
  for (int i = 0; i < 200; ++i) {
    timespec before{}, after{};
    clock_gettime(CLOCK_REALTIME, &before);
    int64_t wallMs = 0;
    msTickWithWallClock(&wallMs);
    clock_gettime(CLOCK_REALTIME, &after);
    // One millisecond of slack on each side for a slewing clock and the offset's own read.
    EXPECT_GE(wallMs, before.tv_sec * 1000 + before.tv_nsec / 1000000 - 1);
    EXPECT_LE(wallMs, after.tv_sec * 1000 + after.tv_nsec / 1000000 + 1);
  }
}

}  // namespace
