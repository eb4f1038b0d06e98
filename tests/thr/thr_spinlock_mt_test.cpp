// The spin lock under real threads, more of them than there are cores (so
// holders are preempted and waiters reach the yielding path). Each holder
// leaves a two-word value inconsistent for a few dozen instructions, so two
// holders at once would see the words differ or lose an update.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "port/spin_wait.h"
#include "thr/thr_spinlock.h"

namespace {

constexpr auto kRunFor = std::chrono::milliseconds(1000);

struct TwoWords {
  ThrSpinLock lock;
  uint64_t first GUARDED_BY(lock) = 0;
  uint64_t second GUARDED_BY(lock) = 0;
};

TEST(ThrSpinLockTest, HoldersNeverOverlapAndNoUpdateIsLost) {
  constexpr int kThreads = 4;
  TwoWords value;
  std::atomic<uint64_t> violations{0}, updates{0};
  const auto deadline = std::chrono::steady_clock::now() + kRunFor;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      uint64_t mine = 0;
      while (std::chrono::steady_clock::now() < deadline) {
        for (int round = 0; round < 64; ++round, ++mine) {
          ThrSpinGuard hold(value.lock);
          if (value.first != value.second) ++violations;
          value.first = value.first + 1;
          // Compiler barriers keep the two stores apart, around a short wait.
          std::atomic_signal_fence(std::memory_order_seq_cst);
          for (int spin = 0; spin < 8; ++spin) portCpuRelax();
          std::atomic_signal_fence(std::memory_order_seq_cst);
          value.second = value.second + 1;
        }
      }
      updates += mine;
    });
  }
  for (std::thread& t : threads) t.join();
  ThrSpinGuard hold(value.lock);
  EXPECT_EQ(violations.load(), 0u);
  EXPECT_EQ(value.first, updates.load());
  EXPECT_EQ(value.second, updates.load());
}

}  // namespace
