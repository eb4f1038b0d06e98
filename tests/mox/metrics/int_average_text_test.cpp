#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dptrc/dptrc.h"
#include "mox/metrics/perf_data_manager.h"

namespace {

// The record changes the timing path makes, one update each.
void incActive(CPerfRecord& r) {
  PerfUpdate u;
  u.incActive = true;
  r.apply(u);
}
void end(CPerfRecord& r, PerfUpdate::End how) {
  PerfUpdate u;
  u.end = how;
  r.apply(u);
}
void addTimes(CPerfRecord& r, int32_t elapsedMs, int64_t cpuUs, int32_t netElapsedMs, int64_t netCpuUs) {
  PerfUpdate u;
  u.addTimes = true;
  u.elapsedMs = elapsedMs;
  u.cpuUs = cpuUs;
  u.netElapsedMs = netElapsedMs;
  u.netCpuUs = netCpuUs;
  r.apply(u);
}

const std::u16string kHead = u"<metric type=\"IntAverage\" name=\"ABC|disp_3|Order|create:";

// Four started, two ended with times, one terminated without: active 1,
// finished 2, terminated 1, count 2.
void fill(CPerfRecord& record) {
  for (int i = 0; i < 4; ++i) incActive(record);
  addTimes(record, 10, 300, 4, 100);
  end(record, PerfUpdate::End::Finished);
  addTimes(record, 30, 500, 6, 200);
  end(record, PerfUpdate::End::Finished);
  end(record, PerfUpdate::End::Terminated);
}

MetricFormat format(uint16_t agentType, uint16_t scope) {
  MetricFormat f;
  f.prefix = u"ABC|disp_3";
  f.agentType = agentType;
  f.scope = scope;
  return f;
}

std::u16string text(uint16_t agentType, uint16_t scope) {
  CPerfRecord record(u"Order|create");
  fill(record);
  return CPerfDataManager::formatIntAverage(record, format(agentType, scope));
}

// The labels of the lines, in order.
std::vector<std::string> labels(const std::u16string& text) {
  std::vector<std::string> out;
  const std::string narrow = trcText(text);
  for (size_t at = narrow.find(':'); at != std::string::npos; at = narrow.find(':', at + 1)) {
    out.push_back(narrow.substr(at + 1, narrow.find('"', at) - at - 1));
  }
  return out;
}

TEST(IntAverageTextTest, DefaultConfigurationGivesCountersAndElapsedInFullForm) {
  EXPECT_EQ(text(2, 0), kHead + u"Finished Counter\" value=\"2\" />\n" + kHead +
                            u"Finished with undefined state\" value=\"1\" />\n" + kHead +
                            u"Avg. Elapsed Time(ms)\" value=\"20\" max=\"30\" min=\"10\" count=\"2\" />\n");
}

TEST(IntAverageTextTest, LinesOfEachScopeInBothForms) {
  const std::string ac = "Active Counter", fc = "Finished Counter", fu = "Finished with undefined state",
                    el = "Avg. Elapsed Time(ms)", cpu = "Avg. CPU Time(us)", nel = "Avg. Net Elapsed Time(ms)",
                    ncpu = "Avg. Net CPU Time(us)", elHw = "Avg. Elapsed Time High Watermark(ms)",
                    cpuHw = "Avg. CPU Time High Watermark(us)", nelHw = "Avg. Net Elapsed Time High Watermark(ms)",
                    ncpuHw = "Avg. Net CPU Time High Watermark(us)";
  using Labels = std::vector<std::string>;
  for (uint16_t agentType : {0, 2, 1}) {
    SCOPED_TRACE(agentType);
    EXPECT_EQ(labels(text(agentType, 0)), (Labels{fc, fu, el}));
    EXPECT_EQ(labels(text(agentType, 1)), (Labels{ac, fc, fu, el}));
    EXPECT_EQ(labels(text(agentType, 2)), (Labels{ac, fc, fu, el, nel}));
    EXPECT_EQ(labels(text(agentType, 3)), (Labels{ac, fc, fu, el, cpu}));
    EXPECT_EQ(labels(text(agentType, 4)), (Labels{ac, fc, fu, el, cpu, nel, ncpu}));
    EXPECT_EQ(labels(text(agentType, 6)), (Labels{ac, fc, fu, el, cpu}));
  }
  EXPECT_EQ(labels(text(0, 5)), (Labels{ac, fc, fu, el, cpu, elHw, cpuHw, nelHw, ncpuHw}));
  EXPECT_EQ(labels(text(2, 5)), (Labels{ac, fc, fu, el, cpu}));
}

TEST(IntAverageTextTest, FullFormCarriesMaxMinCountOnEveryAverage) {
  EXPECT_EQ(text(2, 4), kHead + u"Active Counter\" value=\"1\" />\n" + kHead + u"Finished Counter\" value=\"2\" />\n" +
                            kHead + u"Finished with undefined state\" value=\"1\" />\n" + kHead +
                            u"Avg. Elapsed Time(ms)\" value=\"20\" max=\"30\" min=\"10\" count=\"2\" />\n" + kHead +
                            u"Avg. CPU Time(us)\" value=\"400\" max=\"500\" min=\"300\" count=\"2\" />\n" + kHead +
                            u"Avg. Net Elapsed Time(ms)\" value=\"5\" max=\"6\" min=\"4\" count=\"2\" />\n" + kHead +
                            u"Avg. Net CPU Time(us)\" value=\"150\" max=\"200\" min=\"100\" count=\"2\" />\n");
}

TEST(IntAverageTextTest, PlainFormPrintsValuesOnlyAndHighWatermarksAtScopeFive) {
  EXPECT_EQ(text(0, 5), kHead + u"Active Counter\" value=\"1\" />\n" + kHead + u"Finished Counter\" value=\"2\" />\n" +
                            kHead + u"Finished with undefined state\" value=\"1\" />\n" + kHead +
                            u"Avg. Elapsed Time(ms)\" value=\"20\" />\n" + kHead +
                            u"Avg. CPU Time(us)\" value=\"400\" />\n" + kHead +
                            u"Avg. Elapsed Time High Watermark(ms)\" value=\"30\" />\n" + kHead +
                            u"Avg. CPU Time High Watermark(us)\" value=\"500\" />\n" + kHead +
                            u"Avg. Net Elapsed Time High Watermark(ms)\" value=\"6\" />\n" + kHead +
                            u"Avg. Net CPU Time High Watermark(us)\" value=\"200\" />\n");
}

TEST(IntAverageTextTest, NoTimesMeansNoAveragesAndUnmeasuredCpuHasNoCpuWatermarks) {
  CPerfRecord record(u"Order|create", 3);  // carried with running timings
  EXPECT_EQ(CPerfDataManager::formatIntAverage(record, format(0, 5)),
            kHead + u"Active Counter\" value=\"3\" />\n" + kHead + u"Finished Counter\" value=\"0\" />\n" + kHead +
                u"Finished with undefined state\" value=\"0\" />\n");
  addTimes(record, 8, -1, 8, -1);
  const std::u16string plain = CPerfDataManager::formatIntAverage(record, format(0, 5));
  EXPECT_EQ(labels(plain).size(), 7u);  // AC FC FU elapsed CPU, two elapsed watermarks
  EXPECT_EQ(plain.find(u"CPU Time High Watermark"), std::u16string::npos);
}

TEST(IntAverageTextTest, ElapsedDividesUnsignedAndCpuSignedTowardZero) {
  CPerfRecord record(u"Order|create");
  // Elapsed sums wrap past int32; the CPU sum -3 over 2 gives -1, not -2.
  addTimes(record, 2000000000, -1, 2000000000, -1);
  addTimes(record, 2000000000, -2, 2000000000, -2);
  const std::u16string out = CPerfDataManager::formatIntAverage(record, format(2, 3));
  EXPECT_NE(out.find(u"Avg. Elapsed Time(ms)\" value=\"2000000000\""), std::u16string::npos) << trcText(out);
  EXPECT_NE(out.find(u"Avg. CPU Time(us)\" value=\"-1\""), std::u16string::npos);
}

TEST(IntAverageTextTest, SkippedKeysLoseOnlyTheActiveCounter) {
  MetricFormat f = format(2, 1);
  f.isSkipped = [](std::u16string_view key) { return key.substr(0, 5) == u"Skip|"; };
  CPerfRecord skipped(u"Skip|run");
  CPerfRecord elsewhere(u"Order|Skip");
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(skipped, f)),
            (std::vector<std::string>{"Finished Counter", "Finished with undefined state"}));
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(elsewhere, f)).front(), "Active Counter");
}

}  // namespace

// Ends without a running timing (started before the interval's record existed,
// or not counted) must not wrap active below zero.
TEST(PerfRecordTest, EndsNeverTakeActiveBelowZero) {
  CPerfRecord record(u"K|m");
  end(record, PerfUpdate::End::Finished);
  end(record, PerfUpdate::End::Terminated);
  incActive(record);
  end(record, PerfUpdate::End::Finished);
  const PerfValues v = record.snapshot();
  EXPECT_EQ(v.active, 0u);
  EXPECT_EQ(v.finished, 2u);
  EXPECT_EQ(v.terminated, 1u);
}
