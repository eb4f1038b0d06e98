#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "thr/thr.h"
#include "thr/thr_guards.h"
#include "thr/thr_internal.h"

namespace {

TEST(ThrLayer, BeforeInitLocksEventsAndThreadsDoNothing) {
  ASSERT_FALSE(ThrIsInitialised());
  ThrMutex m;
  ASSERT_EQ(ThrMutexInit(&m), THR_OK);
  EXPECT_EQ(ThrMutexUnlock(&m), THR_OK);  // an unlock without lock is fine: nothing happens
  EXPECT_EQ(ThrMutexDelete(&m), THR_NOT_SET_UP);
  ThrEvt* e = nullptr;
  ASSERT_EQ(ThrEvtCreate(&e), THR_OK);
  EXPECT_EQ(ThrEvtWaitReset(e, THR_WAIT_FOREVER), THR_OK);  // at once
  EXPECT_EQ(ThrEvtDelete(e), THR_NOT_SET_UP);
  ThrId id = 7;
  EXPECT_EQ(ThrCreate(
                nullptr, [](void*) -> void* { return nullptr; }, nullptr, &id),
            THR_NOT_SET_UP);
  EXPECT_EQ(id, THR_INVALID_ID);
}

TEST(ThrLayer, InitShutdownInitCycle) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(ThrInit(), THR_OK);
    EXPECT_EQ(ThrInit(), THR_OK);  // once only: the caller is listed once
    EXPECT_EQ(thrListedThreads(), 1u);
    ThrMutex m;
    ASSERT_EQ(ThrMutexInit(&m), THR_OK);
    {
      ThrMutexGuard g(&m);
      ThrMutexGuard nested(&m);
    }
    EXPECT_EQ(ThrMutexDelete(&m), THR_OK);
    EXPECT_EQ(ThrShutdown(), THR_OK);
    EXPECT_FALSE(ThrIsInitialised());
    EXPECT_EQ(thrListedThreads(), 0u);
  }
}

TEST(ThrRecMtxDeathTest, UnlockWithoutLockPanics) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        ThrRecMtx m;
        ThrRecMtxInit(&m, u"dptrace");
        ThrRecMtxLock(&m);
        ThrRecMtxUnlock(&m);
        ThrRecMtxUnlock(&m);
      },
      "ThrRecMtxUnlock: PANIC: #unlock > #lock, tag: \"dptrace\"\n");
  EXPECT_DEATH(
      {
        ThrRecMtx m;
        ThrRecMtxInit(&m, nullptr);
        ThrRecMtxUnlock(&m);
      },
      "ThrRecMtxUnlock: PANIC: #unlock > #lock, tag: \"not set\"\n");
}

TEST(ThrEvt, AutoResetAndTimeOut) {
  ASSERT_EQ(ThrInit(), THR_OK);
  ThrEvt* e = nullptr;
  ASSERT_EQ(ThrEvtCreate(&e), THR_OK);
  EXPECT_EQ(ThrEvtWaitReset(e, 0), THR_TIMEOUT);  // created non-signalled
  EXPECT_EQ(ThrEvtSet(e), THR_OK);
  EXPECT_EQ(ThrEvtSet(e), THR_OK);  // not counted: still one wake-up
  EXPECT_EQ(ThrEvtWaitReset(e, THR_WAIT_FOREVER), THR_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ThrEvtWaitReset(e, 50), THR_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(ThrEvtDelete(e), THR_OK);
  ThrShutdown();
}

TEST(ThrRwLock, SingleThreadModesTimeOutsAndStatus) {
  ThrRwLock* l = nullptr;
  ASSERT_EQ(ThrRwLockInit(&l), THR_OK);
  EXPECT_EQ(ThrRwLockRelease(l), THR_OS_FAILED);  // not held
  ASSERT_EQ(ThrRwLockShared(l, 0), THR_OK);
  ASSERT_EQ(ThrRwLockShared(l, 0), THR_OK);
  EXPECT_EQ(thrRwLockCounts(l).state, 2);
  // A timed-out writer neither holds nor waits: readers still enter.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ThrRwLockExclusive(l, 30), THR_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(thrRwLockCounts(l).waitingWriters, 0u);
  EXPECT_EQ(ThrRwLockShared(l, 0), THR_OK);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ThrRwLockRelease(l), THR_OK);

  ASSERT_EQ(ThrRwLockExclusive(l, 0), THR_OK);
  EXPECT_EQ(thrRwLockCounts(l).state, -1);
  EXPECT_EQ(ThrRwLockExclusive(l, 0), THR_TIMEOUT);
  EXPECT_EQ(ThrRwLockShared(l, 30), THR_TIMEOUT);
  EXPECT_EQ(thrRwLockCounts(l).waitingReaders, 0u);
  EXPECT_EQ(ThrRwLockRelease(l), THR_OK);
  EXPECT_EQ(thrRwLockCounts(l).state, 0);
  EXPECT_EQ(ThrRwLockDelete(l), THR_NOT_SET_UP);  // layer not set up; freed anyway
}

}  // namespace
