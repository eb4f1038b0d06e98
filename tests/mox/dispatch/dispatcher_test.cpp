#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/clock.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/dispatcher_manager.h"
#include "mox/dispatch/metric_format_source.h"
#include "mox/dispatch/timer_step.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "support/recording_agent.h"
#include "support/test_config.h"

namespace {

// Seconds between the first few events of a timer with the given interval.
template <typename Step>
std::vector<uint32_t> periods(Step step, uint32_t interval) {
  std::vector<uint32_t> result;
  uint32_t counter = 0;
  uint32_t lastFire = 0;
  for (uint32_t second = 1; result.size() < 3 && second < 1000; ++second) {
    const TimerStep next = step(counter, interval);
    counter = next.counter;
    if (next.fire) {
      result.push_back(second - lastFire);
      lastFire = second;
    }
  }
  return result;
}

using Periods = std::vector<uint32_t>;

TEST(TimerStep, TraceTimerFiresEveryHalfIntervalPlusOneAndDataTimerEveryIntervalPlusOne) {
  for (auto [interval, period] : {std::pair{5u, 3u}, {4u, 3u}, {2u, 2u}, {1u, 1u}, {7u, 4u}}) {
    EXPECT_EQ(periods(traceTimerStep, interval), (Periods{period, period, period})) << interval;
  }
  EXPECT_EQ(periods(dataTimerStep, 60), (Periods{61, 61, 61}));
  EXPECT_EQ(periods(dataTimerStep, 15), (Periods{16, 16, 16}));
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
  void SetUp() override {
    configureForTest({{u"datasending_interval", u"60"},
                      {u"zombie_check_interval", u"300"},
                      {u"zombie_timeout", u"1800"},
                      {u"empty_timeout", u"300"},
                      {u"system_name", u"SYS"},
                      {u"agent_type", u"0"},
                      {u"perf_metric_scope", u"3"},
                      {u"skip_times_in_names", u"Db"},
                      {u"instrument_level_threshold", u"10"}});
    dispatcher = CDispatcherManager::getInstance();
    dispatcher->init();
    registry = CMTContextManager::getInstance();
    registry->init();
    auto owned = std::make_unique<RecordingAgent>();
    traceAgent = owned.get();
    CMTTraceDataManager::getInstance()->init(std::move(owned));
    CPerfDataManager::getInstance()->init();
    CPerfDataManager::getInstance()->setDataAgent(std::make_unique<RecordingAgent>());
  }
  void TearDown() override {
    setTickSource(nullptr);
    CMTTraceDataManager::destroyInstance();
    CPerfDataManager::destroyInstance();
    CMTContextManager::destroyInstance();
    CDispatcherManager::destroyInstance();
    CConfiguration::destroyInstance();
  }

  CDispatcherManager* dispatcher = nullptr;
  CMTContextManager* registry = nullptr;
  RecordingAgent* traceAgent = nullptr;
};

TEST_F(DispatcherTest, ContextScanRunsOnEveryFifthDataRunWithTimeoutsInMs) {
  setTickSource(readFakeTick);
  registry->initContext(u"idle", u"");
  ASSERT_EQ(registry->contextCount(), 1u);

  // Just under empty_timeout (300 s): the scans must keep the context.
  fakeTick += 299 * 1000;
  std::vector<uint32_t> elapsed;
  for (int run = 0; run < 5; ++run) {
    dispatcher->accumulateZombieTime();
    elapsed.push_back(dispatcher->zombieElapsed());
  }
  EXPECT_EQ(elapsed, (std::vector<uint32_t>{60, 120, 180, 240, 0}));
  EXPECT_EQ(registry->contextCount(), 1u);

  fakeTick += 2 * 1000;
  for (int run = 0; run < 4; ++run) dispatcher->accumulateZombieTime();
  EXPECT_EQ(registry->contextCount(), 1u) << "no scan before the fifth run";
  dispatcher->accumulateZombieTime();
  EXPECT_EQ(registry->contextCount(), 0u);

  configureForTest({{u"datasending_interval", u"60"}, {u"zombie_check_interval", u"0"}});
  dispatcher->accumulateZombieTime();
  EXPECT_EQ(dispatcher->zombieElapsed(), 0u) << "a check interval of 0 switches the scan off";
}

// The scan counts each removed context once in the built-in counters, which
// are sent with the watermarks the carried record gives.
TEST_F(DispatcherTest, ScanRaisesTheBuiltInContextCounters) {
  setTickSource(readFakeTick);
  registry->setInstanceNumber(u"7");
  CPerfDataManager* store = CPerfDataManager::getInstance();
  for (std::u16string_view name : {kZombieContextCount, kEmptyContextCount}) {
    store->withResourceRecord(name, [](CResourceRecord& record) { record.initialize(0, 0); });
  }
  auto owned = std::make_unique<RecordingAgent>();
  RecordingAgent* dataAgent = owned.get();
  store->setDataAgent(std::move(owned));
  MetricFormat format = currentMetricFormat();
  format.agentType = 2;
  store->processData(format);  // the interval in which both were set to 0
  registry->initContext(u"idle", u"");
  EXPECT_NE(registry->startTiming(u"stuck", u"Order", u"create", 0), 0u);
  fakeTick += 1801 * 1000;  // past empty_timeout and zombie_timeout
  for (int run = 0; run < 5; ++run) dispatcher->accumulateZombieTime();
  EXPECT_EQ(registry->contextCount(), 0u);
  store->processData(format);

  const std::vector<std::u16string> texts = dataAgent->texts();
  std::u16string last;
  for (const auto& text : texts) last += text;
  const std::u16string head = u"<metric type=\"LongCounter\" name=\"SYS_7|";
  EXPECT_NE(last.find(head + u"Empty Context Count:Current Value\" value=\"1\" max=\"1\" min=\"0\" count=\"1\" />"),
            std::u16string::npos);
  EXPECT_NE(last.find(head + u"Zombie Context Count:Current Value\" value=\"1\" max=\"1\" min=\"0\" count=\"1\" />"),
            std::u16string::npos);
}

TEST_F(DispatcherTest, JobsPrintWithTheProcessIdentityAndOnlyTheDispatcherRunsCallbacks) {
  registry->setProcessName(u"shop");
  registry->setInstanceNumber(u"7");
  registry->setInstancePrefix(u"east");
  EXPECT_EQ(currentVersionPrefix(), u"SYS|shop_7");
  const MetricFormat format = currentMetricFormat();
  EXPECT_EQ(format.prefix, u"SYS|shop_7|east");
  EXPECT_EQ(format.scope, 3);
  ASSERT_TRUE(format.isSkipped);
  EXPECT_TRUE(format.isSkipped(u"Db|select"));
  registry->setProcessName(u"");
  registry->setInstancePrefix(u"");
  EXPECT_EQ(currentMetricFormat().prefix, u"SYS_7");

  // Registered a second ago with an interval of 0: due at every data run.
  CPerfDataManager::getInstance()->resourceCallbacks().registerCallback(1, countHookCall, 0, 0, wallSeconds() - 1, 60);
  runTraceAndDataJobs();  // as MOX_outputMetricData does
  EXPECT_EQ(hookCalls.load(), 0);
  ASSERT_FALSE(traceAgent->texts().empty());
  EXPECT_EQ(traceAgent->texts().front(), CMTTraceDataManager::versionEventText(u"SYS_7"));
  dispatcher->runDataDispatch();
  EXPECT_EQ(hookCalls.load(), 1);
  EXPECT_EQ(dispatcher->zombieElapsed(), 60u);
}

}  // namespace
