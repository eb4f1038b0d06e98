// The entry gate under real threads, and across a fork.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "thr/thr_entry_gate.h"

namespace {

TEST(ThrEntryGateTest, CloserWaitsForEveryCallInsideAndTurnsNewOnesAway) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 300;
  std::atomic<int> alive{1};  // 0 once what the calls use is "torn down"
  std::atomic<bool> stop{false};
  std::atomic<long> passed{0}, refused{0}, violations{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        ThrGateEntry outer;
        if (!outer) {
          ++refused;
          continue;
        }
        ThrGateEntry nested;  // may be turned away once shut; the outer one still holds the closer off
        if (ThrGateDepth() != (nested ? 2u : 1u)) ++violations;
        for (int spin = 0; spin < 50; ++spin) {
          if (alive.load(std::memory_order_relaxed) != 1) ++violations;
        }
        ++passed;
      }
    });
  }
  for (int round = 0; round < kRounds; ++round) {
    alive.store(1, std::memory_order_relaxed);
    ThrGateOpen();
    while (passed.load() < round * 20L) std::this_thread::yield();
    ThrGateCloseAndDrain();
    alive.store(0, std::memory_order_relaxed);
    EXPECT_FALSE(ThrGateEntry());
  }
  stop = true;
  for (auto& c : callers) c.join();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(ThrGateDepth(), 0u);
  EXPECT_GT(refused.load(), 0);
}

// A parent thread is inside the gate at the fork: the child's gate is shut,
// and closing it there does not wait for that thread.
TEST(ThrEntryGateTest, ForkedChildIsNotHeldByThreadsThatStayedBehind) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a multi-threaded fork";
#endif
  ThrGateOpen();
  std::atomic<bool> inside{false}, release{false};
  std::thread holder([&] {
    ThrGateEntry entry;
    inside = true;
    while (!release.load()) std::this_thread::yield();
  });
  while (!inside.load()) std::this_thread::yield();
  const testsupport::ChildEnd end = testsupport::runInChild([] {
    if (ThrGateEntry()) return 2;
    ThrGateOpen();
    ThrGateCloseAndDrain();  // would hang on the holder's depth
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
  release = true;
  holder.join();
  ThrGateCloseAndDrain();
}

}  // namespace
