#include <gtest/gtest.h>

#include "thr/thr.h"
#include "thr/thr_guards.h"
#include "thr/thr_internal.h"

namespace {

// Before the first ThrInit and again after ThrShutdown, locks and events do
// nothing; in between the caller is listed once.
TEST(ThrLayer, LocksAndEventsDoNothingOutsideInitAndShutdown) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_FALSE(ThrIsInitialised());
    ThrMutex idle, used;
    ASSERT_EQ(ThrMutexInit(&idle), THR_OK);
    EXPECT_EQ(ThrMutexUnlock(&idle), THR_OK);  // an unlock without lock is fine: nothing happens
    ThrEvt* e = nullptr;
    ASSERT_EQ(ThrEvtCreate(&e), THR_OK);
    EXPECT_EQ(ThrEvtWaitReset(e, THR_WAIT_FOREVER), THR_OK);  // at once
    ThrEvtDelete(e);

    ASSERT_EQ(ThrInit(), THR_OK);
    EXPECT_EQ(ThrInit(), THR_OK);
    EXPECT_EQ(thrListedThreads(), 1u);
    ASSERT_EQ(ThrMutexInit(&used), THR_OK);
    {
      ThrMutexGuard g(&used);
      ThrMutexGuard nested(&used);
    }
    EXPECT_EQ(ThrMutexDelete(&used), THR_OK);
    EXPECT_EQ(ThrShutdown(), THR_OK);
  }
}

}  // namespace
