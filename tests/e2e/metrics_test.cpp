// Timed calls from several threads reach the metric data file as exact metric lines.
#include <atomic>
#include <regex>

#include "e2e/e2e_support.h"

namespace {

using e2e::expectLines;
using e2e::LibraryTest;
using e2e::lines;

const std::string kVersion =
    "<metric type=\"StringEvent\" name=\"VEL_MOX|e2e_0:MOX library version\" value=\"2.3.6\" />";

std::string metric(const std::string& key, const std::string& label, const std::string& value) {
  return "<metric type=\"IntAverage\" name=\"VEL_MOX|e2e_0|" + key + ":" + label + "\" value=\"" + value + "\" />";
}

// The built-in context counters, sent in the first interval of every start.
std::vector<std::string> withBuiltIns(std::vector<std::string> lines) {
  for (const char* name : {"Empty Context Count", "Zombie Context Count"}) {
    lines.push_back(std::string("<metric type=\"LongCounter\" name=\"VEL_MOX|e2e_0|") + name +
                    ":Current Value\" value=\"0\" max=\"0\" min=\"0\" count=\"1\" />");
  }
  return lines;
}

std::vector<std::string> plainBuiltIns() {
  std::vector<std::string> lines;
  for (const char* name : {"Empty Context Count", "Zombie Context Count"}) {
    for (const char* label : {"Current Value", "High Watermark", "Low Watermark"}) {
      lines.push_back(std::string("<metric type=\"LongCounter\" name=\"VEL_MOX|e2e_0|") + name + ":" + label +
                      "\" value=\"0\" />");
    }
  }
  return lines;
}

// An average line in the full form; the times themselves vary from run to run.
std::string average(const std::string& key, const std::string& label, int count) {
  return "<metric type=\"IntAverage\" name=\"VEL_MOX\\|e2e_0\\|" + std::regex_replace(key, std::regex("\\|"), "\\|") +
         ":" + std::regex_replace(label, std::regex("[()|.]"), "\\$&") +
         "\" value=\"-?\\d+\" max=\"-?\\d+\" min=\"-?\\d+\" count=\"" + std::to_string(count) + "\" />";
}

std::string plainAverage(const std::string& key, const std::string& label) {
  return "<metric type=\"IntAverage\" name=\"VEL_MOX\\|e2e_0\\|" + std::regex_replace(key, std::regex("\\|"), "\\|") +
         ":" + std::regex_replace(label, std::regex("[()|.]"), "\\$&") + "\" value=\"-?\\d+\" />";
}

void nestedCalls(int times) {
  for (int i = 0; i < times; ++i) {
    const uint32_t outer = MOX_startTiming(u"Order", u"create", 1);
    const uint32_t inner = MOX_startTiming(u"Db", u"select", 1);
    MOX_endTiming(inner);
    MOX_endTiming(outer);
  }
}

TEST_F(LibraryTest, NestedCallsFromSeveralThreadsGiveExactMetricLines) {
  initWith({});
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) threads.emplace_back([] { nestedCalls(5); });
  for (auto& t : threads) t.join();
  MOX_outputMetricData();
  expectLines(lines(metricFile()), withBuiltIns({kVersion, metric("Db|select", "Finished Counter", "15"),
                                                 metric("Db|select", "Finished with undefined state", "0"),
                                                 "re:" + average("Db|select", "Avg. Elapsed Time(ms)", 15),
                                                 metric("Order|create", "Finished Counter", "15"),
                                                 metric("Order|create", "Finished with undefined state", "0"),
                                                 "re:" + average("Order|create", "Avg. Elapsed Time(ms)", 15)}));
}

TEST_F(LibraryTest, ScopesAddTheirAverageLines) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> scopes = {
      {"2", {"Avg. Elapsed Time(ms)", "Avg. Net Elapsed Time(ms)"}},
      {"3", {"Avg. Elapsed Time(ms)", "Avg. CPU Time(us)"}},
      {"4", {"Avg. Elapsed Time(ms)", "Avg. CPU Time(us)", "Avg. Net Elapsed Time(ms)", "Avg. Net CPU Time(us)"}},
      {"5", {"Avg. Elapsed Time(ms)", "Avg. CPU Time(us)"}}};
  for (const auto& [scope, labels] : scopes) {
    SCOPED_TRACE("perf_metric_scope " + scope);
    initWith({{"perf_metric_scope", scope}});
    MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
    MOX_outputMetricData();
    std::vector<std::string> expected = {kVersion, metric("K|m", "Active Counter", "0"),
                                         metric("K|m", "Finished Counter", "1"),
                                         metric("K|m", "Finished with undefined state", "0")};
    for (const auto& label : labels) expected.push_back("re:" + average("K|m", label, 1));
    expectLines(lines(metricFile()), withBuiltIns(expected));
    MOX_ProcExit();
    std::filesystem::remove(dir_ / "e2e_mtdata.log");
  }
}

TEST_F(LibraryTest, PlainFormForAgentTypeZeroWithHighWatermarks) {
  initWith({{"agent_type", "0"}, {"perf_metric_scope", "5"}});
  MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
  MOX_outputMetricData();
  std::vector<std::string> expected = {
      kVersion, metric("K|m", "Active Counter", "0"), metric("K|m", "Finished Counter", "1"),
      metric("K|m", "Finished with undefined state", "0"), "re:" + plainAverage("K|m", "Avg. Elapsed Time(ms)"),
      "re:" + plainAverage("K|m", "Avg. CPU Time(us)"),
      "re:" + plainAverage("K|m", "Avg. Elapsed Time High Watermark(ms)"),
      "re:" + plainAverage("K|m", "Avg. CPU Time High Watermark(us)"),
      "re:" + plainAverage("K|m", "Avg. Net Elapsed Time High Watermark(ms)"),
      // Net CPU is not summed at this scope, so its watermark is 0, not "unmeasured".
      "re:" + plainAverage("K|m", "Avg. Net CPU Time High Watermark(us)")};
  for (const auto& line : plainBuiltIns()) expected.push_back(line);
  expectLines(lines(metricFile()), expected);
}

TEST_F(LibraryTest, RunningCallIsCarriedIntoTheNextInterval) {
  initWith({{"perf_metric_scope", "1"}});
  const uint32_t open = MOX_startTiming(u"Long", u"run", 1);
  MOX_outputMetricData();
  MOX_outputMetricData();
  MOX_endTiming(open);
  MOX_outputMetricData();
  expectLines(lines(metricFile()),
              {kVersion, metric("Long|run", "Active Counter", "1"), metric("Long|run", "Finished Counter", "0"),
               metric("Long|run", "Finished with undefined state", "0"), withBuiltIns({})[0], withBuiltIns({})[1],
               metric("Long|run", "Active Counter", "1"), metric("Long|run", "Finished Counter", "0"),
               metric("Long|run", "Finished with undefined state", "0"), metric("Long|run", "Active Counter", "0"),
               metric("Long|run", "Finished Counter", "1"), metric("Long|run", "Finished with undefined state", "0"),
               "re:" + average("Long|run", "Avg. Elapsed Time(ms)", 1)});
}

TEST_F(LibraryTest, TerminatedCallsAndTerminateAll) {
  initWith({{"lib_trace_level", "1"}});
  const uint32_t outer = MOX_startTiming(u"A", u"outer", 1);
  MOX_startTiming(u"B", u"inner", 1);
  MOX_terminateTimingAll();
  EXPECT_EQ(MOX_startTiming(u"A", u"again", 1), 0u);
  MOX_endTiming(outer);  // ignored: the context is terminated
  MOX_initContext(nullptr);
  EXPECT_EQ(MOX_startTiming(u"A", u"again", 1), 1u);
  MOX_terminateTiming(1);
  MOX_outputMetricData();
  expectLines(
      lines(metricFile()),
      withBuiltIns({kVersion, metric("A|again", "Finished Counter", "0"),
                    metric("A|again", "Finished with undefined state", "0"),
                    "re:" + average("A|again", "Avg. Elapsed Time(ms)", 1), metric("A|outer", "Finished Counter", "0"),
                    metric("A|outer", "Finished with undefined state", "1"), metric("B|inner", "Finished Counter", "0"),
                    metric("B|inner", "Finished with undefined state", "1")}));
  EXPECT_NE(traceFile().find("Previous context object is in the terminate status and was not cleaned up by "
                             "MOX_initContext API"),
            std::string::npos);
}

TEST_F(LibraryTest, EndingAnOuterCallClosesInnerOnesAndTheNextUnitStartsFresh) {
  initWith({});
  EXPECT_EQ(MOX_startTiming(u"A", u"a", 1), 1u);
  EXPECT_EQ(MOX_startTiming(u"B", u"b", 1), 2u);
  MOX_endTiming(1);                               // B is terminated without times; A ends on the way, so only counts
  EXPECT_EQ(MOX_startTiming(u"C", u"c", 1), 1u);  // a new unit of work
  MOX_endTiming(1);
  MOX_outputMetricData();
  expectLines(lines(metricFile()),
              withBuiltIns({kVersion, metric("A|a", "Finished Counter", "1"),
                            metric("A|a", "Finished with undefined state", "1"), metric("B|b", "Finished Counter", "0"),
                            metric("B|b", "Finished with undefined state", "1"), metric("C|c", "Finished Counter", "1"),
                            metric("C|c", "Finished with undefined state", "0"),
                            "re:" + average("C|c", "Avg. Elapsed Time(ms)", 1)}));
}

// Host threads time calls while the trace dispatcher thread and the host's own
// MOX_outputMetricData calls send at the same time: every call is counted once.
TEST_F(LibraryTest, TimingWhileDispatchersAndOutputRunTogether) {
  initWith({{"lib_trace_level", "2"}, {"tracecheck_interval", "1"}});
  std::atomic<bool> stop{false};
  std::atomic<long> calls{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 3; ++t) {
    workers.emplace_back([&] {
      while (!stop.load()) {
        const uint32_t outer = MOX_startTiming(u"Svc", u"run", 1);
        MOX_endTiming(MOX_startTiming(u"Db", u"query", 1));
        MOX_endTiming(outer);
        calls++;
      }
    });
  }
  int outputs = 0;
  // Our own runs write two "Processing finished" lines each; more means the
  // trace dispatcher thread ran in between.
  const bool dispatcherRan = e2e::waitFor([&] {
    MOX_outputMetricData();
    ++outputs;
    return e2e::countOf(traceFile(), "Processing finished") > 2 * outputs;
  });
  stop = true;
  for (auto& w : workers) w.join();
  MOX_outputMetricData();
  EXPECT_TRUE(dispatcherRan);
  long finished = 0;
  const std::regex counter(R"re(name="VEL_MOX\|e2e_0\|Svc\|run:Finished Counter" value="(\d+)")re");
  for (const auto& line : lines(metricFile())) {
    std::smatch m;
    if (std::regex_search(line, m, counter)) finished += std::stol(m[1]);
  }
  EXPECT_EQ(finished, calls.load());
}

TEST_F(LibraryTest, NothingIsSentWhenDataSendingIsOff) {
  initWith({{"datasending_interval", "0"}});
  MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
  MOX_outputMetricData();
  MOX_ProcExit();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "e2e_mtdata.log"));
}

TEST_F(LibraryTest, FinalFlushAtExitSendsTheLastInterval) {
  initWith({});
  MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
  MOX_ProcExit();
  const auto all = lines(metricFile());
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0], kVersion);
  EXPECT_EQ(all[1], metric("K|m", "Finished Counter", "1"));
}

}  // namespace
