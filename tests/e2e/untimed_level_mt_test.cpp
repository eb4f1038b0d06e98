// The level word ahead of the entry gate under threshold changes from another thread: hosts keep timing while an
// operator switches measuring off and on, and the last change is the one that holds.
#include <atomic>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

using e2e::LibraryTest;
using e2e::widen;

TEST_F(LibraryTest, RacingThresholdChangesLeaveTheLastOneInForce) {
  std::ofstream(dir_ / "mox.conf") << "logdir = " << dir_.string() << "\ndatasending_interval = 0\n";
  MOX_ProcInitWithProfilePath(u"e2e", 0, widen(dir_.string()).c_str());

  std::atomic<int> changersLeft{2};
  std::vector<std::thread> threads;
  // Two changers race each other with different levels, 0 (off) among them.
  for (uint16_t base : {uint16_t(0), uint16_t(7)}) {
    threads.emplace_back([&, base] {
      for (uint16_t i = 0; i < 2000; ++i) MOX_changeInstruLevelThreshold(static_cast<uint16_t>(base + i % 3));
      changersLeft.fetch_sub(1);
    });
  }
  std::atomic<long> pairs{0};
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      do {
        MOX_endTiming(MOX_startTiming(u"A", u"b", 1));
        pairs.fetch_add(1);
      } while (changersLeft.load() != 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_GE(pairs.load(), 2);

  MOX_changeInstruLevelThreshold(4);
  const uint32_t timed = MOX_startTiming(u"A", u"b", 3);
  EXPECT_NE(timed, 0u);
  EXPECT_EQ(MOX_startTiming(u"A", u"c", 10), 0u);  // at or above both thresholds (trace default 10)
  MOX_endTiming(timed);
  MOX_changeInstruLevelThreshold(0);
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 0), 0u);
}

}  // namespace
