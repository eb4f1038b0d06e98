// The metric data file through the exports: timing records, resources, KPIs, callbacks.
#include "e2e/e2e_support.h"

namespace {

using e2e::kVersion;
using e2e::LibraryTest;
using e2e::Lines;
using e2e::metric;
using e2e::resource;
using e2e::timing;

// value may carry further attributes after the number.
std::string counter(const std::string& name, const std::string& value) { return metric("LongCounter", name, value); }

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
  const std::string average = "N\" max=\"N\" min=\"N\" count=\"";
  EXPECT_EQ(e2e::withTimesAsN(e2e::lines(metricFile())),
            (Lines{kVersion, timing("Db|select", "Finished Counter", "15"),
                   timing("Db|select", "Finished with undefined state", "0"),
                   timing("Db|select", "Avg. Elapsed Time(ms)", average + "16"),
                   timing("Order|create", "Finished Counter", "15"),
                   timing("Order|create", "Finished with undefined state", "1"),
                   timing("Order|create", "Avg. Elapsed Time(ms)", average + "15"),
                   resource("Empty Context Count", 0, 0, 0, 1), resource("Zombie Context Count", 0, 0, 0, 1)}));
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
  EXPECT_EQ(nextInterval(), (Lines{kVersion, resource("Empty Context Count", 0, 0, 0, 1), resource("Pool", 8, 8, 3, 3),
                                   resource("Zombie Context Count", 0, 0, 0, 1)}));
  EXPECT_EQ(nextInterval(), Lines{});  // nothing reported: nothing sent
  MOX_increaseResource(u"Pool", 1);
  EXPECT_EQ(nextInterval(), Lines{resource("Pool", 9, 9, 8, 1)});
  MOX_decreaseResource(u"Pool", 10);
  MOX_reportResource(u"Other", 4, 9, 2, 5, 0);
  EXPECT_EQ(nextInterval(), (Lines{resource("Other", 4, 9, 2, 5), resource("Pool", -1, 9, -1, 1)}));
  // The count a host reports is unsigned 32-bit and prints so.
  MOX_reportResource(u"Big", 1, 1, 1, 2147483648u, 0);
  MOX_reportResource(u"Max", 1, 1, 1, 4294967295u, 0);
  EXPECT_EQ(nextInterval(), (Lines{resource("Big", 1, 1, 1, 2147483648u), resource("Max", 1, 1, 1, 4294967295u)}));

  // A resource set to 0 takes its next value as its first one.
  MOX_initializeResource(u"Zero", 0, 0);
  MOX_initializeResource(u"Zero", 5, 0);
  MOX_initializeResource(u"Plain", 7, 1);
  EXPECT_EQ(nextInterval(),
            (Lines{metric("LongCounterNone", "Plain:Current Value", "7"), resource("Zero", 5, 5, 5, 2)}));
  // The instance prefix sets the built-in counters back to 0 under its names.
  MOX_setInstancePrefix(u"east");
  EXPECT_EQ(nextInterval(), (Lines{resource("east|Empty Context Count", 0, 0, 0, 1),
                                   resource("east|Zombie Context Count", 0, 0, 0, 1)}));
}

TEST_F(ResourceTest, KpisFollowTheirResourceForOneIntervalOnly) {
  initWith({});
  MOX_initializeResource(u"Pool", 1, 0);
  MOX_initializeResource(u"Idle", 1, 0);
  MOX_reportResourceKPI(u"Pool", u"waits", 4);
  MOX_reportResourceKPI(u"Pool", u"hits", 9);
  MOX_reportResourceKPI(u"Pool", u"hits", 2);  // replaces the 9
  Lines first = nextInterval();
  first.erase(first.begin(), first.begin() + 3);  // version, Empty Context Count, Idle
  EXPECT_EQ(first, (Lines{resource("Pool", 1, 1, 1, 1), counter("Pool:hits", "2\" count=\"1"),
                          counter("Pool:waits", "4\" count=\"1"), resource("Zombie Context Count", 0, 0, 0, 1)}));

  MOX_reportResourceKPI(u"Idle", u"lonely", 1);  // Idle is not reported in this interval
  MOX_increaseResource(u"Pool", 1);
  EXPECT_EQ(nextInterval(), Lines{resource("Pool", 2, 2, 1, 1)});
}

TEST_F(ResourceTest, AgentTypesOtherThanTwoSendThreeLinesWithoutKpis) {
  for (const char* agentType : {"0", "1", "3"}) {
    SCOPED_TRACE(std::string("agent_type ") + agentType);
    initWith({{"agent_type", agentType}});
    nextInterval();
    for (int64_t v : {5, 3, 8}) MOX_initializeResource(u"Pool", v, 1);
    MOX_reportResourceKPI(u"Pool", u"hits", 2);
    EXPECT_EQ(nextInterval(), (Lines{counter("Pool:Current Value", "8"), counter("Pool:High Watermark", "8"),
                                     counter("Pool:Low Watermark", "3")}));
    MOX_ProcExit();
    nextInterval();  // the exit's last interval
  }
}

void reportQueue() { MOX_initializeResource(u"Queue", 42, 0); }

// The data dispatcher thread (every 16 s at the shortest) runs callbacks right before its data job.
TEST_F(ResourceTest, DataDispatcherRunsCallbacksBeforeItsJob) {
  initWith({{"datasending_interval", "15"}});
  MOX_registerResourceCallBack(7, reportQueue, 0, 0);
  EXPECT_TRUE(e2e::waitUntil([&] { return metricFile().find(resource("Queue", 42, 42, 42, 1)) != std::string::npos; },
                             std::chrono::seconds(40)));
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
  std::atomic<int> running{2}, rotations{0}, increased{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIncreases; ++i) {
        // Halfway, make sure some switches fall inside the run.
        while (i == kIncreases / 2 && rotations.load() < 3) std::this_thread::yield();
        MOX_increaseResource(u"Hits", 1);
        increased.fetch_add(1, std::memory_order_relaxed);
      }
      --running;
    });
  }
  // A switch every few thousand increases: hundreds in the run, never starving the increasing threads.
  for (int last = 0; running.load() > 0;) {
    while (running.load() > 0 && increased.load() < last + 5000 && rotations.load() >= 3) std::this_thread::yield();
    last = increased.load();
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
