// The hot-path locks under more threads than cores, for a second each. A
// holder leaves two words unequal for a moment: two writers at once, or a
// reader beside a writer, would see them differ or lose an update.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "port/spin_wait.h"
#include "support/test_files.h"
#include "thr/thr_sharded_rwlock.h"
#include "thr/thr_spinlock.h"

using testsupport::waitUntil;

namespace {

template <typename Lock>
struct TwoWords {
  Lock lock{};
  uint64_t first GUARDED_BY(lock) = 0;
  uint64_t second GUARDED_BY(lock) = 0;
};

// Runs each body in a thread of its own, over and over, for a second.
void runForASecond(const std::vector<std::function<void()>>& bodies) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  std::vector<std::thread> threads;
  for (const auto& body : bodies) {
    threads.emplace_back([&] {
      while (std::chrono::steady_clock::now() < deadline) body();
    });
  }
  for (std::thread& t : threads) t.join();
}

TEST(ThrSpinLockTest, HoldersNeverOverlapAndNoUpdateIsLost) {
  TwoWords<ThrSpinLock> value;
  std::atomic<uint64_t> violations{0}, updates{0};
  const auto holder = [&] {
    for (int round = 0; round < 64; ++round) {
      ThrSpinGuard hold(value.lock);
      if (value.first != value.second) ++violations;
      value.first = value.first + 1;
      std::atomic_signal_fence(std::memory_order_seq_cst);
      for (int spin = 0; spin < 8; ++spin) portCpuRelax();
      std::atomic_signal_fence(std::memory_order_seq_cst);
      value.second = value.second + 1;
    }
    updates += 64;
  };
  runForASecond({holder, holder, holder, holder});
  ThrSpinGuard hold(value.lock);
  EXPECT_EQ(violations.load(), 0u);
  EXPECT_EQ(value.first, updates.load());
  EXPECT_EQ(value.second, updates.load());
}

TEST(ThrShardedRwLockTest, ReadersNeverSeeAWriteHalfDoneAndWritersNeverOverlap) {
  TwoWords<ThrShardedRwLock*> value;
  ASSERT_EQ(ThrShardedRwLockInit(&value.lock), THR_OK);
  std::atomic<uint64_t> violations{0}, reads{0}, writes{0};
  const auto read = [&] {
    ThrShardedSharedGuard hold(value.lock);
    const uint64_t first = value.first;
    std::this_thread::yield();  // widens the window
    if (value.second != first) ++violations;
    ++reads;
  };
  const auto write = [&] {
    {
      ThrShardedExclusiveGuard hold(value.lock);
      if (value.first != value.second) ++violations;
      value.first = value.first + 1;
      std::this_thread::yield();
      value.second = value.second + 1;
      ++writes;
    }
    std::this_thread::yield();  // rare writers, as the lock expects
  };
  runForASecond({read, read, read, write, write});
  {
    ThrShardedSharedGuard hold(value.lock);
    EXPECT_EQ(violations.load(), 0u);
    EXPECT_EQ(value.first, writes.load());
    EXPECT_EQ(value.second, writes.load());
  }
  EXPECT_GT(reads.load(), 0u);
  EXPECT_GT(writes.load(), 0u);
  ThrShardedRwLockDelete(value.lock);
}

// The raw calls, whose status decides whether the lock is held: beyond the lock analysis.
int enterExclusive(ThrShardedRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  return ThrShardedRwLockExclusive(l, timeoutMs);
}
void leaveExclusive(ThrShardedRwLock* l) NO_THREAD_SAFETY_ANALYSIS { ThrShardedRwLockReleaseExclusive(l); }
int readOnce(ThrShardedRwLock* l) NO_THREAD_SAFETY_ANALYSIS {
  const int status = ThrShardedRwLockShared(l, 0);
  if (status == THR_OK) ThrShardedRwLockReleaseShared(l);
  return status;
}
// A reader on a thread of its own, without waiting, that leaves at once.
int readOnceElsewhere(ThrShardedRwLock* l) {
  int status = -1;
  std::thread([&] { status = readOnce(l); }).join();
  return status;
}

TEST(ThrShardedRwLockTest, AWriterThatGivesUpLetsReadersInAgain) {
  ThrShardedRwLock* lock = nullptr;
  ASSERT_EQ(ThrShardedRwLockInit(&lock), THR_OK);
  std::atomic<bool> readerIn{false}, leave{false};
  std::thread reader([&] {
    ThrShardedSharedGuard hold(lock);
    readerIn = true;
    waitUntil([&] { return leave.load(); });
  });
  EXPECT_TRUE(waitUntil([&] { return readerIn.load(); }));
  EXPECT_EQ(enterExclusive(lock, 20), THR_TIMEOUT);
  EXPECT_EQ(readOnceElsewhere(lock), THR_OK) << "the writer that gave up still blocks readers";
  leave = true;
  reader.join();
  ASSERT_EQ(enterExclusive(lock, 0), THR_OK);
  EXPECT_EQ(readOnceElsewhere(lock), THR_TIMEOUT);
  leaveExclusive(lock);
  ThrShardedRwLockDelete(lock);
}

}  // namespace
