#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "support/test_files.h"
#include "thr/thr.h"
#include "thr/thr_internal.h"

using testsupport::waitUntil;

namespace {

struct Holder {
  std::atomic<bool> in{false};
  std::atomic<bool> leave{false};
};

class RwLockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ThrRwLockInit(&lock_), THR_OK); }
  void TearDown() override {
    for (Holder& h : holders_) h.leave = true;
    for (std::thread& t : threads_) t.join();
    ThrRwLockDelete(lock_);
  }
  // A thread that holds the lock from `in` until `leave`.
  Holder& startHolder(bool exclusive) {
    Holder& h = holders_.emplace_back();
    threads_.emplace_back([this, &h, exclusive] {
      if ((exclusive ? ThrRwLockExclusive(lock_, 20000) : ThrRwLockShared(lock_, 20000)) != THR_OK) return;
      h.in = true;
      waitUntil([&] { return h.leave.load(); });
      ThrRwLockRelease(lock_);
    });
    return h;
  }
  bool waiting(uint32_t writers, uint32_t readers) {
    return waitUntil([&] {
      const ThrRwLockCounts c = thrRwLockCounts(lock_);
      return c.waitingWriters == writers && c.waitingReaders == readers;
    });
  }

  ThrRwLock* lock_ = nullptr;
  std::deque<Holder> holders_;
  std::vector<std::thread> threads_;
};

TEST_F(RwLockTest, TimedOutWaitsLeaveNoTraceAndAReleaseNeedsAHolder) {
  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OS_FAILED);
  ASSERT_EQ(ThrRwLockShared(lock_, 0), THR_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ThrRwLockExclusive(lock_, 30), THR_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(ThrRwLockShared(lock_, 0), THR_OK);  // the writer that gave up no longer waits
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  ASSERT_EQ(ThrRwLockExclusive(lock_, 0), THR_OK);
  EXPECT_EQ(ThrRwLockShared(lock_, 30), THR_TIMEOUT);
  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  EXPECT_EQ(thrRwLockCounts(lock_).state, 0);
  EXPECT_EQ(thrRwLockCounts(lock_).waitingReaders, 0u);
}

TEST_F(RwLockTest, WritersGoFirstAndEachReleaseWakesTheRightWaiters) {
  for (int i = 0; i < 2; ++i) ASSERT_EQ(ThrRwLockShared(lock_, 0), THR_OK);
  Holder& writer = startHolder(true);
  ASSERT_TRUE(waiting(1, 0));
  EXPECT_EQ(ThrRwLockShared(lock_, 0), THR_TIMEOUT);  // a new reader waits behind the writer
  constexpr int kReaders = 3;
  for (int i = 0; i < kReaders; ++i) startHolder(false);
  ASSERT_TRUE(waiting(1, kReaders));

  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  EXPECT_EQ(thrRwLockCounts(lock_).state, 1);
  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);  // last reader out wakes the writer only
  ASSERT_TRUE(waitUntil([&] { return writer.in.load(); }));

  // A writer's release prefers a waiting writer to the waiting readers.
  Holder& writer2 = startHolder(true);
  ASSERT_TRUE(waiting(1, kReaders));
  writer.leave = true;
  ASSERT_TRUE(waitUntil([&] { return writer2.in.load(); }));
  writer2.leave = true;
  // One wake-up, passed on from reader to reader: all are inside together.
  ASSERT_TRUE(waitUntil([&] { return thrRwLockCounts(lock_).state == kReaders; }));
}

// A lost wake-up would hang here.
TEST_F(RwLockTest, MixedLoadKeepsExclusion) {
  std::atomic<int> readersIn{0}, writersIn{0};
  std::atomic<bool> violated{false};
  int guarded = 0;
  constexpr int kThreads = 6;
  constexpr int kRounds = 20000;
  for (int t = 0; t < kThreads; ++t) {
    threads_.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        if (i % 4 == 0) {
          ASSERT_EQ(ThrRwLockExclusive(lock_, THR_LOCK_WAIT_MS), THR_OK);
          if (writersIn.fetch_add(1) != 0 || readersIn.load() != 0) violated = true;
          ++guarded;
          writersIn.fetch_sub(1);
        } else {
          ASSERT_EQ(ThrRwLockShared(lock_, THR_LOCK_WAIT_MS), THR_OK);
          readersIn.fetch_add(1);
          if (writersIn.load() != 0) violated = true;
          readersIn.fetch_sub(1);
        }
        ASSERT_EQ(ThrRwLockRelease(lock_), THR_OK);
      }
    });
  }
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  EXPECT_FALSE(violated.load());
  EXPECT_EQ(guarded, kThreads * kRounds / 4);
  EXPECT_EQ(thrRwLockCounts(lock_).state, 0);
}

}  // namespace
