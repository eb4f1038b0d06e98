// The platform port: what the rest of the library relies on from each call.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "port/clock.h"
#include "port/process_barrier.h"
#include "port/thread_id.h"
#include "port/thread_join.h"
#include "support/test_files.h"

namespace {

int64_t nanos(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

timespec monotonicIn(int64_t ms) {
  timespec t{};
  EXPECT_TRUE(portReadMonotonicClock(&t));
  const int64_t at = nanos(t) + ms * 1000000;
  return timespec{static_cast<time_t>(at / 1000000000), static_cast<long>(at % 1000000000)};
}

TEST(PortTest, ThreadIdIsTheKernelsIdOfTheCallingThread) {
  EXPECT_EQ(portCurrentThreadId(), static_cast<uint32_t>(getpid()));  // the main thread's
  uint32_t other = 0;
  std::thread([&] { other = portCurrentThreadId(); }).join();
  EXPECT_TRUE(other != 0 && other != portCurrentThreadId());
}

TEST(PortTest, JoinWaitsNoLongerThanTheDeadlineAndLeavesTheThreadJoinable) {
  static std::atomic<bool> leave{false};
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, nullptr,
                [](void*) -> void* {
                  testsupport::waitUntil([] { return leave.load(); });
                  return nullptr;
                },
                nullptr),
            0);
  EXPECT_EQ(portJoinThreadBefore(thread, monotonicIn(20)), ETIMEDOUT);
  leave = true;
  EXPECT_EQ(portJoinThreadBefore(thread, monotonicIn(20000)), 0);
}

// The coarse clock is the monotonic one, a few milliseconds behind at most (the rest: portable_test).
TEST(PortTest, CoarseClockIsTheMonotonicOne) {
  timespec fine{}, coarse{};
  ASSERT_TRUE(portReadMonotonicClock(&fine) && portReadCoarseMonotonicClock(&coarse));
  EXPECT_LT(std::llabs(nanos(coarse) - nanos(fine)), 100 * 1000000LL);
}

// Whether the kernel offers a process-wide barrier is asked here directly, not of the code under test: where it does,
// preparing must succeed.
TEST(PortTest, ProcessBarrierWorksOnceItIsPreparedWhereTheKernelOffersOne) {
  const long commands = syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
  const bool offered = commands > 0 && (commands & (MEMBARRIER_CMD_PRIVATE_EXPEDITED | MEMBARRIER_CMD_GLOBAL)) != 0;
  EXPECT_EQ(portPrepareProcessBarrier(), offered);
  EXPECT_EQ(portProcessBarrier(), offered);
  portForgetProcessBarrier();
  EXPECT_FALSE(portProcessBarrier());  // a forked child must prepare again
  EXPECT_EQ(portPrepareProcessBarrier(), offered);
}

}  // namespace
