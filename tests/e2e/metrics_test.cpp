// The metric data file through the exports: timing records, resources, KPIs, callbacks.
#include <atomic>
#include <regex>

#include "e2e/e2e_support.h"

namespace {

using e2e::expectLines;
using e2e::kVersion;
using e2e::LibraryTest;
using e2e::lines;

// value may carry further attributes after the number.
std::string counter(const std::string& name, const std::string& value, const std::string& type = "LongCounter") {
  return "<metric type=\"" + type + "\" name=\"VEL_MOX|e2e_0|" + name + "\" value=\"" + value + "\" />";
}

std::string full(const std::string& resource, int64_t current, int64_t max, int64_t min, int count) {
  return counter(resource + ":Current Value", std::to_string(current) + "\" max=\"" + std::to_string(max) +
                                                  "\" min=\"" + std::to_string(min) + "\" count=\"" +
                                                  std::to_string(count));
}

std::string metric(const std::string& key, const std::string& label, const std::string& value) {
  return "<metric type=\"IntAverage\" name=\"VEL_MOX|e2e_0|" + key + ":" + label + "\" value=\"" + value + "\" />";
}

// An average line in the full form; the times vary from run to run.
std::string average(const std::string& key, const std::string& label, int count) {
  return "re:<metric type=\"IntAverage\" name=\"VEL_MOX\\|e2e_0\\|" +
         std::regex_replace(key + ":" + label, std::regex("[()|.]"), "\\$&") +
         "\" value=\"-?\\d+\" max=\"-?\\d+\" min=\"-?\\d+\" count=\"" + std::to_string(count) + "\" />";
}

// A call ended by MOX_terminateTiming keeps its times but is not finished;
// one ended by MOX_terminateTimingAll is finished in an undefined state.
TEST_F(LibraryTest, NestedCallsFromSeveralThreadsAndTerminatedCallsGiveExactMetricLines) {
  initWith({});
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 5; ++i) {
        const uint32_t outer = MOX_startTiming(u"Order", u"create", 1);
        MOX_endTiming(MOX_startTiming(u"Db", u"select", 1)), MOX_endTiming(outer);
      }
    });
  }
  for (auto& t : threads) t.join();
  MOX_terminateTiming(MOX_startTiming(u"Db", u"select", 1));
  MOX_startTiming(u"Order", u"create", 1);
  MOX_terminateTimingAll();
  MOX_outputMetricData();
  expectLines(
      lines(metricFile()),
      {kVersion, metric("Db|select", "Finished Counter", "15"),
       metric("Db|select", "Finished with undefined state", "0"), average("Db|select", "Avg. Elapsed Time(ms)", 16),
       metric("Order|create", "Finished Counter", "15"), metric("Order|create", "Finished with undefined state", "1"),
       average("Order|create", "Avg. Elapsed Time(ms)", 15), full("Empty Context Count", 0, 0, 0, 1),
       full("Zombie Context Count", 0, 0, 0, 1)});
}

TEST_F(LibraryTest, ExitSendsTheLastIntervalUnlessSendingIsOff) {
  initWith({{"datasending_interval", "0"}});
  MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
  MOX_outputMetricData();
  MOX_ProcExit();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "e2e_mtdata.log"));
  initWith({});
  MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
  MOX_ProcExit();
  EXPECT_EQ(e2e::sumOf(metricFile(), "K|m"), 1);
}

using ResourceTest = LibraryTest;

TEST_F(ResourceTest, ValuesWatermarksAndCountsPerInterval) {
  initWith({});
  for (int64_t v : {5, 3, 8}) MOX_initializeResource(u"Pool", v, 0);
  expectLines(nextInterval(), {kVersion, full("Empty Context Count", 0, 0, 0, 1), full("Pool", 8, 8, 3, 3),
                               full("Zombie Context Count", 0, 0, 0, 1)});
  expectLines(nextInterval(), {});  // nothing reported: nothing sent
  MOX_increaseResource(u"Pool", 1);
  expectLines(nextInterval(), {full("Pool", 9, 9, 8, 1)});
  MOX_decreaseResource(u"Pool", 10);
  MOX_reportResource(u"Other", 4, 9, 2, 5, 0);
  expectLines(nextInterval(), {full("Other", 4, 9, 2, 5), full("Pool", -1, 9, -1, 1)});

  // A resource set to 0 takes its next value as its first one.
  MOX_initializeResource(u"Zero", 0, 0);
  MOX_initializeResource(u"Zero", 5, 0);
  MOX_initializeResource(u"Plain", 7, 1);
  expectLines(nextInterval(), {counter("Plain:Current Value", "7", "LongCounterNone"), full("Zero", 5, 5, 5, 2)});
}

TEST_F(ResourceTest, KpisFollowTheirResourceForOneIntervalOnly) {
  initWith({});
  MOX_initializeResource(u"Pool", 1, 0);
  MOX_initializeResource(u"Idle", 1, 0);
  MOX_reportResourceKPI(u"Pool", u"waits", 4);
  MOX_reportResourceKPI(u"Pool", u"hits", 2);
  std::vector<std::string> first = nextInterval();
  first.erase(first.begin(), first.begin() + 3);  // version, Empty Context Count, Idle
  expectLines(first, {full("Pool", 1, 1, 1, 1), counter("Pool:hits", "2\" count=\"1"),
                      counter("Pool:waits", "4\" count=\"1"), full("Zombie Context Count", 0, 0, 0, 1)});

  MOX_reportResourceKPI(u"Idle", u"lonely", 1);  // Idle is not reported in this interval
  MOX_increaseResource(u"Pool", 1);
  expectLines(nextInterval(), {full("Pool", 2, 2, 1, 1)});
}

TEST_F(ResourceTest, OtherAgentTypesSendThreeLinesWithoutKpis) {
  for (const char* agentType : {"0", "1"}) {
    SCOPED_TRACE(std::string("agent_type ") + agentType);
    initWith({{"agent_type", agentType}});
    nextInterval();
    for (int64_t v : {5, 3, 8}) MOX_initializeResource(u"Pool", v, 1);
    MOX_reportResourceKPI(u"Pool", u"hits", 2);
    expectLines(nextInterval(), {counter("Pool:Current Value", "8"), counter("Pool:High Watermark", "8"),
                                 counter("Pool:Low Watermark", "3")});
    MOX_ProcExit();
    nextInterval();  // the exit's last interval
  }
}

TEST_F(ResourceTest, InstancePrefixSetsTheBuiltInCountersBackToZero) {
  initWith({});
  nextInterval();
  MOX_setInstancePrefix(u"east");
  expectLines(nextInterval(),
              {full("east|Empty Context Count", 0, 0, 0, 1), full("east|Zombie Context Count", 0, 0, 0, 1)});
}

void reportQueue() { MOX_initializeResource(u"Queue", 42, 0); }

// The data dispatcher thread (every 16 s at the shortest interval) runs the
// callback right before its data job, which sends what the callback reported.
TEST_F(ResourceTest, DataDispatcherRunsCallbacksBeforeItsJob) {
  initWith({{"datasending_interval", "15"}});
  MOX_registerResourceCallBack(7, reportQueue, 0, 0);
  ASSERT_TRUE(e2e::waitUntil([&] { return metricFile().find("Queue:Current Value") != std::string::npos; },
                             std::chrono::seconds(40)));
  EXPECT_NE(metricFile().find(full("Queue", 42, 42, 42, 1)), std::string::npos);
  MOX_deregisterResourceCallBack(7);
}

// Sections rotate as fast as the data job can while two threads raise one resource.
TEST_F(ResourceTest, NoIncreaseIsLostAtASectionSwitch) {
  initWith({});
#if defined(__SANITIZE_THREAD__)
  constexpr int kIncreases = 200000;  // the same switches, at a fifth of the thread sanitizer's time
#else
  constexpr int kIncreases = 1000000;
#endif
  std::atomic<int> running{2}, rotations{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIncreases; ++i) {
        // Halfway, make sure some switches fall inside the run.
        while (i == kIncreases / 2 && rotations.load() < 3) std::this_thread::yield();
        MOX_increaseResource(u"Hits", 1);
      }
      --running;
    });
  }
  while (running.load() > 0) {
    MOX_outputMetricData();
    ++rotations;
  }
  for (auto& t : threads) t.join();
  MOX_outputMetricData();
  const std::vector<long> sent = e2e::valuesOf(metricFile(), "|Hits:Current Value");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), 2L * kIncreases);
  EXPECT_GT(rotations.load(), 2);
}

}  // namespace
