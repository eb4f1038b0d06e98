// The sharded readers-writer lock under real threads. A writer leaves a
// two-word value inconsistent across a yield while it holds the lock, so a
// reader let in beside a writer, or two writers at once, would see the words
// differ or lose an update. Each run lasts a bounded time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/test_files.h"
#include "thr/thr_sharded_rwlock.h"

using testsupport::waitUntil;

namespace {

constexpr auto kRunFor = std::chrono::milliseconds(1000);

struct TwoWords {
  ThrShardedRwLock* lock = nullptr;
  uint64_t first GUARDED_BY(lock) = 0;
  uint64_t second GUARDED_BY(lock) = 0;
};

// The raw calls, whose status decides whether the lock is held afterwards:
// more than the lock analysis follows, so it is kept out of them.
// A reader that leaves again at once when it got in.
int enterAndLeaveShared(ThrShardedRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  const int status = ThrShardedRwLockShared(l, timeoutMs);
  if (status == THR_OK) ThrShardedRwLockReleaseShared(l);
  return status;
}
int enterExclusive(ThrShardedRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  return ThrShardedRwLockExclusive(l, timeoutMs);
}
void leaveExclusive(ThrShardedRwLock* l) NO_THREAD_SAFETY_ANALYSIS { ThrShardedRwLockReleaseExclusive(l); }

class ShardedRwLockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ThrShardedRwLockInit(&value_.lock), THR_OK); }
  void TearDown() override { ThrShardedRwLockDelete(value_.lock); }

  // One write: the words differ from the first store to the second.
  void write() {
    ThrShardedExclusiveGuard hold(value_.lock);
    if (value_.first != value_.second) ++violations_;
    value_.first = value_.first + 1;
    std::this_thread::yield();
    value_.second = value_.second + 1;
  }
  // One read, with a yield between the words to widen the window.
  void read() {
    ThrShardedSharedGuard hold(value_.lock);
    const uint64_t first = value_.first;
    std::this_thread::yield();
    if (value_.second != first) ++violations_;
  }
  uint64_t settledValue() {
    ThrShardedSharedGuard hold(value_.lock);
    return value_.first == value_.second ? value_.first : ~uint64_t{0};
  }

  TwoWords value_;
  std::atomic<uint64_t> violations_{0};
};

TEST_F(ShardedRwLockTest, ReadersNeverSeeAWriteHalfDoneAndWritersNeverOverlap) {
  constexpr int kReaders = 3;
  constexpr int kWriters = 2;
  const auto deadline = std::chrono::steady_clock::now() + kRunFor;
  std::atomic<uint64_t> reads{0}, writes{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kReaders; ++i) {
    threads.emplace_back([&] {
      while (std::chrono::steady_clock::now() < deadline) {
        read();
        ++reads;
      }
    });
  }
  for (int i = 0; i < kWriters; ++i) {
    threads.emplace_back([&] {
      while (std::chrono::steady_clock::now() < deadline) {
        write();
        ++writes;
        std::this_thread::yield();  // rare writers, as the lock expects
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(violations_.load(), 0u);
  EXPECT_EQ(settledValue(), writes.load());  // no write lost
  EXPECT_GT(reads.load(), 0u);
  EXPECT_GT(writes.load(), 0u);
}

TEST_F(ShardedRwLockTest, AWriterThatGivesUpLetsReadersInAgain) {
  std::atomic<bool> readerIn{false}, leave{false};
  std::thread reader([&] {
    ThrShardedSharedGuard hold(value_.lock);
    readerIn = true;
    waitUntil([&] { return leave.load(); });
  });
  ASSERT_TRUE(waitUntil([&] { return readerIn.load(); }));
  EXPECT_EQ(enterExclusive(value_.lock, 20), THR_TIMEOUT);
  // The failed writer must have lowered its flag: a new reader enters at once.
  std::atomic<int> second{-1};
  std::thread other([&] { second = enterAndLeaveShared(value_.lock, 0); });
  other.join();
  EXPECT_EQ(second.load(), THR_OK);
  leave = true;
  reader.join();
  ASSERT_EQ(enterExclusive(value_.lock, 0), THR_OK);
  // A reader with no time to wait is turned away while the writer holds it.
  std::thread turnedAway([&] { second = enterAndLeaveShared(value_.lock, 0); });
  turnedAway.join();
  EXPECT_EQ(second.load(), THR_TIMEOUT);
  leaveExclusive(value_.lock);
}

}  // namespace
