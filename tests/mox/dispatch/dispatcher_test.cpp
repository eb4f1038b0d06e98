#include <atomic>
#include <utility>

#include "dispatch_test_support.h"
#include "mox/dispatch/timer_step.h"

namespace {

// Seconds between the first three events of a timer with the given interval.
template <typename Step>
std::vector<uint32_t> periods(Step step, uint32_t interval) {
  std::vector<uint32_t> result;
  for (uint32_t second = 1, counter = 0, last = 0; result.size() < 3 && second < 1000; ++second) {
    const TimerStep next = step(counter, interval);
    counter = next.counter;
    if (next.fire) result.push_back(second - std::exchange(last, second));
  }
  return result;
}

TEST(TimerStep, TraceTimerFiresEveryHalfIntervalPlusOneAndDataTimerEveryIntervalPlusOne) {
  using Periods = std::vector<uint32_t>;
  for (auto [interval, period] : {std::pair{5u, 3u}, {4u, 3u}, {2u, 2u}, {1u, 1u}, {7u, 4u}})
    EXPECT_EQ(periods(traceTimerStep, interval), Periods(3, period)) << interval;
  EXPECT_EQ(periods(dataTimerStep, 60), Periods(3, 61));
  EXPECT_EQ(periods(dataTimerStep, 15), Periods(3, 16));
  // A lowered interval counts from the next tick: a counter already past it fires.
  EXPECT_TRUE(dataTimerStep(50, 30).fire);
  EXPECT_FALSE(dataTimerStep(50, 120).fire);
}

std::atomic<uint32_t> fakeTick{5000000};
uint32_t readFakeTick() { return fakeTick.load(); }

std::atomic<int> hookCalls{0};
void countHookCall() { ++hookCalls; }

class DispatcherTest : public ::testing::Test {
 protected:
  DispatchWorld world{{{u"datasending_interval", u"60"},
                       {u"zombie_check_interval", u"300"},
                       {u"zombie_timeout", u"1800"},
                       {u"empty_timeout", u"300"},
                       {u"system_name", u"SYS"},
                       {u"perf_metric_scope", u"3"}},
                      u"",
                      u"7"};  // no process name: "system_instance"
  CDispatcherManager* dispatcher = world.dispatcher;
  CMTContextManager* registry = world.registry;
};

TEST_F(DispatcherTest, ContextScanRunsOnEveryFifthDataRunWithTimeoutsInMs) {
  setTickSource(readFakeTick);
  registry->initContext(u"idle", u"");
  ASSERT_EQ(registry->contextCount(), 1u);

  fakeTick += 299 * 1000;  // just under empty_timeout (300 s): the scans must keep the context
  std::vector<uint32_t> elapsed;
  for (int run = 0; run < 5; ++run) dispatcher->accumulateZombieTime(), elapsed.push_back(dispatcher->zombieElapsed());
  EXPECT_EQ(elapsed, (std::vector<uint32_t>{60, 120, 180, 240, 0}));
  EXPECT_EQ(registry->contextCount(), 1u);

  fakeTick += 2 * 1000;
  for (int run = 0; run < 4; ++run) dispatcher->accumulateZombieTime();
  EXPECT_EQ(registry->contextCount(), 1u) << "no scan before the fifth run";
  dispatcher->accumulateZombieTime();
  EXPECT_EQ(registry->contextCount(), 0u);

  configureForTest(world.config, {{u"datasending_interval", u"60"}, {u"zombie_check_interval", u"0"}});
  dispatcher->accumulateZombieTime();
  EXPECT_EQ(dispatcher->zombieElapsed(), 0u) << "a check interval of 0 switches the scan off";
}

TEST_F(DispatcherTest, JobsPrintWithTheProcessIdentityAndOnlyTheDispatcherRunsCallbacks) {
  const MetricFormat format = metricFormat(world.config, world.identity);
  EXPECT_EQ(format.prefix, u"SYS_7");
  EXPECT_EQ(format.scope, PerfMetricScope::kCpu);

  // Registered a second ago with an interval of 0: due at every data run.
  world.metrics.resourceCallbacks().registerCallback(1, countHookCall, 0, 0, wallSeconds() - 1, 60);
  dispatcher->runTraceAndDataJobs();  // as MOX_outputMetricData does
  EXPECT_EQ(hookCalls.load(), 0);
  ASSERT_FALSE(world.traceAgent->texts().empty());
  EXPECT_EQ(world.traceAgent->texts().front(), CMTTraceDataManager::versionEventText(u"SYS_7"));
  dispatcher->runDataDispatch();
  EXPECT_EQ(hookCalls.load(), 1);
  EXPECT_EQ(dispatcher->zombieElapsed(), 60u);
}

}  // namespace
