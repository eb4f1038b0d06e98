// Timed calls from several threads reach the metric data file as exact metric lines.
#include <regex>

#include "e2e/e2e_support.h"

namespace {

using e2e::expectLines;
using e2e::kVersion;
using e2e::LibraryTest;
using e2e::lines;

std::string metric(const std::string& key, const std::string& label, const std::string& value) {
  return "<metric type=\"IntAverage\" name=\"VEL_MOX|e2e_0|" + key + ":" + label + "\" value=\"" + value + "\" />";
}

// The built-in context counters follow the timing records in the first interval of every start.
std::vector<std::string> withBuiltIns(std::vector<std::string> lines) {
  for (const char* name : {"Empty Context Count", "Zombie Context Count"}) {
    lines.push_back(std::string("<metric type=\"LongCounter\" name=\"VEL_MOX|e2e_0|") + name +
                    ":Current Value\" value=\"0\" max=\"0\" min=\"0\" count=\"1\" />");
  }
  return lines;
}

// An average line in the full form; the times vary from run to run.
std::string average(const std::string& key, const std::string& label, int count) {
  return "re:<metric type=\"IntAverage\" name=\"VEL_MOX\\|e2e_0\\|" +
         std::regex_replace(key + ":" + label, std::regex("[()|.]"), "\\$&") +
         "\" value=\"-?\\d+\" max=\"-?\\d+\" min=\"-?\\d+\" count=\"" + std::to_string(count) + "\" />";
}

TEST_F(LibraryTest, NestedCallsFromSeveralThreadsGiveExactMetricLines) {
  initWith({});
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 5; ++i) {
        const uint32_t outer = MOX_startTiming(u"Order", u"create", 1);
        MOX_endTiming(MOX_startTiming(u"Db", u"select", 1));
        MOX_endTiming(outer);
      }
    });
  }
  for (auto& t : threads) t.join();
  MOX_outputMetricData();
  expectLines(lines(metricFile()), withBuiltIns({kVersion, metric("Db|select", "Finished Counter", "15"),
                                                 metric("Db|select", "Finished with undefined state", "0"),
                                                 average("Db|select", "Avg. Elapsed Time(ms)", 15),
                                                 metric("Order|create", "Finished Counter", "15"),
                                                 metric("Order|create", "Finished with undefined state", "0"),
                                                 average("Order|create", "Avg. Elapsed Time(ms)", 15)}));
}

// Calls ended by an outer end, by terminateTiming and by terminateTimingAll.
TEST_F(LibraryTest, CallsEndedOtherwiseAreCountedAsUndefined) {
  initWith({});
  EXPECT_EQ(MOX_startTiming(u"A", u"a", 1), 1u);
  EXPECT_EQ(MOX_startTiming(u"B", u"b", 1), 2u);
  MOX_endTiming(1);                               // B is terminated without times; A ends on the way, so only counts
  EXPECT_EQ(MOX_startTiming(u"C", u"c", 1), 1u);  // a new unit of work
  MOX_startTiming(u"D", u"d", 1);
  MOX_terminateTimingAll();
  EXPECT_EQ(MOX_startTiming(u"X", u"x", 1), 0u);  // terminated until the next initContext
  MOX_endTiming(1);                               // ignored
  MOX_initContext(nullptr);
  EXPECT_EQ(MOX_startTiming(u"E", u"e", 1), 1u);
  MOX_terminateTiming(1);  // with its times, but not finished
  MOX_outputMetricData();
  expectLines(
      lines(metricFile()),
      withBuiltIns({kVersion, metric("A|a", "Finished Counter", "1"),
                    metric("A|a", "Finished with undefined state", "1"), metric("B|b", "Finished Counter", "0"),
                    metric("B|b", "Finished with undefined state", "1"), metric("C|c", "Finished Counter", "0"),
                    metric("C|c", "Finished with undefined state", "1"), metric("D|d", "Finished Counter", "0"),
                    metric("D|d", "Finished with undefined state", "1"), metric("E|e", "Finished Counter", "0"),
                    metric("E|e", "Finished with undefined state", "0"), average("E|e", "Avg. Elapsed Time(ms)", 1)}));
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

}  // namespace
