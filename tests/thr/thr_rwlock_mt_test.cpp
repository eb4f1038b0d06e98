#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>
#include <vector>

#include "thr/thr.h"
#include "thr/thr_internal.h"
#include "thr/wait_until.h"

namespace {

class RwLockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ThrRwLockInit(&lock_), THR_OK); }
  void TearDown() override {
    for (std::thread& t : threads_) t.join();
    ThrRwLockDelete(lock_);
  }

  // Starts a thread that takes the lock, sets *acquired, waits for *leave
  // and releases. *status gets the acquire's result.
  void startHolder(bool exclusive, std::atomic<bool>* acquired, std::atomic<bool>* leave,
                   int32_t timeoutMs = 20000, std::atomic<int>* status = nullptr) {
    threads_.emplace_back([=] {
      const int rc = exclusive ? ThrRwLockExclusive(lock_, timeoutMs) : ThrRwLockShared(lock_, timeoutMs);
      if (status != nullptr) status->store(rc);
      if (rc != THR_OK) return;
      acquired->store(true);
      waitUntil([&] { return leave->load(); }, std::chrono::seconds(20));
      ThrRwLockRelease(lock_);
    });
  }
  bool waitingWriters(uint32_t n) {
    return waitUntil([&] { return thrRwLockCounts(lock_).waitingWriters == n; });
  }
  bool waitingReaders(uint32_t n) {
    return waitUntil([&] { return thrRwLockCounts(lock_).waitingReaders == n; });
  }

  // Flags outlive the test body: the threads are joined in TearDown.
  std::atomic<bool>& flag(bool initial = false) { return flags_.emplace_back(initial); }
  std::atomic<int>& status() { return statuses_.emplace_back(-1); }

  ThrRwLock* lock_ = nullptr;
  std::deque<std::atomic<bool>> flags_;
  std::deque<std::atomic<int>> statuses_;
  std::vector<std::thread> threads_;
};

TEST_F(RwLockTest, WritersGoFirstAndEachReleaseWakesTheRightWaiter) {
  ASSERT_EQ(ThrRwLockShared(lock_, 0), THR_OK);
  ASSERT_EQ(ThrRwLockShared(lock_, 0), THR_OK);  // two readers inside
  std::atomic<bool>& writerIn = flag();
  std::atomic<bool>& writerLeave = flag();
  startHolder(true, &writerIn, &writerLeave);
  ASSERT_TRUE(waitingWriters(1));

  // Readers hold the lock, yet a new reader must wait behind the writer.
  EXPECT_EQ(ThrRwLockShared(lock_, 0), THR_TIMEOUT);
  std::atomic<bool>& readerIn = flag();
  std::atomic<bool>& readerLeave = flag();
  startHolder(false, &readerIn, &readerLeave);
  ASSERT_TRUE(waitingReaders(1));

  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  EXPECT_EQ(thrRwLockCounts(lock_).state, 1);
  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);  // last reader out wakes the writer only
  ASSERT_TRUE(waitUntil([&] { return writerIn.load(); }));
  EXPECT_EQ(thrRwLockCounts(lock_).waitingWriters, 0u);

  // A writer's release prefers a waiting writer to the waiting reader.
  std::atomic<bool>& writer2In = flag();
  std::atomic<bool>& writer2Leave = flag();
  startHolder(true, &writer2In, &writer2Leave);
  ASSERT_TRUE(waitingWriters(1));
  writerLeave = true;
  ASSERT_TRUE(waitUntil([&] { return writer2In.load(); }));
  EXPECT_FALSE(readerIn.load());
  EXPECT_EQ(thrRwLockCounts(lock_).waitingReaders, 1u);
  writer2Leave = true;
  ASSERT_TRUE(waitUntil([&] { return readerIn.load(); }));
  readerLeave = true;
}

TEST_F(RwLockTest, WriterReleaseLetsAllWaitingReadersIn) {
  ASSERT_EQ(ThrRwLockExclusive(lock_, 0), THR_OK);
  constexpr int kReaders = 4;
  std::atomic<bool>* in[kReaders];
  std::atomic<bool>& leave = flag();
  for (auto& f : in) {
    f = &flag();
    startHolder(false, f, &leave);
  }
  ASSERT_TRUE(waitingReaders(kReaders));

  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  // One wake-up, passed on from reader to reader: all are inside together.
  ASSERT_TRUE(waitUntil([&] { return thrRwLockCounts(lock_).state == kReaders; }));
  for (auto* f : in) EXPECT_TRUE(waitUntil([&] { return f->load(); }));
  EXPECT_EQ(thrRwLockCounts(lock_).waitingReaders, 0u);
  leave = true;
}

TEST_F(RwLockTest, TimedOutWriterNoLongerHoldsReadersBack) {
  ASSERT_EQ(ThrRwLockShared(lock_, 0), THR_OK);
  std::atomic<int>& writerStatus = status();
  std::atomic<bool>& writerIn = flag();
  std::atomic<bool>& leave = flag();
  startHolder(true, &writerIn, &leave, 500, &writerStatus);
  ASSERT_TRUE(waitingWriters(1));
  std::atomic<bool>& readerIn = flag();
  startHolder(false, &readerIn, &leave);
  // The reader queues behind the writer (unless the writer has already given
  // up on a slow machine, which leaves the rest of the test valid).
  ASSERT_TRUE(waitUntil([&] { return thrRwLockCounts(lock_).waitingReaders == 1 || writerStatus.load() != -1; }));

  ASSERT_TRUE(waitUntil([&] { return writerStatus.load() != -1; }));
  EXPECT_EQ(writerStatus.load(), THR_TIMEOUT);
  EXPECT_FALSE(writerIn.load());
  // Both the blocked reader and a new one get in while the first still reads.
  ASSERT_TRUE(waitUntil([&] { return readerIn.load(); }));
  EXPECT_EQ(ThrRwLockShared(lock_, 0), THR_OK);
  EXPECT_EQ(thrRwLockCounts(lock_).state, 3);
  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  EXPECT_EQ(ThrRwLockRelease(lock_), THR_OK);
  leave = true;
}

// Mixed load: writers are alone, readers only with readers, and nobody is
// left waiting (a lost wake-up would hang here).
TEST_F(RwLockTest, MixedLoadKeepsExclusion) {
  std::atomic<int> readersIn{0}, writersIn{0};
  std::atomic<bool> violated{false};
  int guarded = 0;  // written only under the exclusive lock
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
  const ThrRwLockCounts counts = thrRwLockCounts(lock_);
  EXPECT_EQ(counts.state, 0);
  EXPECT_EQ(counts.waitingReaders + counts.waitingWriters, 0u);
}

}  // namespace
