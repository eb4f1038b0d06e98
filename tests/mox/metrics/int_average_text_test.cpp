// The IntAverage text of a performance record: the lines of each scope in the
// full and the plain form, and the arithmetic of the averages.
#include "mox/metrics/int_average_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "dptrc/dptrc.h"
#include "mox/metrics/perf_data_manager.h"

namespace {

using End = PerfUpdate::End;
const PerfUpdate kStart{true};
const PerfUpdate kTerminated{false, false, 0, -1, 0, -1, End::Terminated};
PerfUpdate timed(int32_t ms, int64_t cpuUs, int32_t netMs, int64_t netCpuUs, End end = End::Finished) {
  return PerfUpdate{false, true, ms, cpuUs, netMs, netCpuUs, end};
}

MetricFormat format(uint16_t agentType, uint16_t scope) {
  return MetricFormat{u"ABC|disp_3", agentType, PerfMetricScope{scope}};
}

// Four started, two ended with times, one terminated: active 1, finished 2, terminated 1, count 2.
std::u16string text(uint16_t agentType, uint16_t scope) {
  CPerfRecord record(u"Order|create");
  for (int i = 0; i < 4; ++i) record.apply(kStart);
  record.apply(timed(10, 300, 4, 100));
  record.apply(timed(30, 500, 6, 200));
  record.apply(kTerminated);
  return CPerfDataManager::formatIntAverage(record, format(agentType, scope));
}

// The labels of the lines, in order, by their capitals ("Avg. Net CPU Time(us)" is "ANCPUT").
std::string labels(const std::u16string& text) {
  std::string out;
  const std::string narrow = trcText(text);
  for (size_t at = narrow.find(':'); at != std::string::npos; at = narrow.find(':', at + 1)) {
    out += out.empty() ? "" : " ";
    for (size_t i = at + 1; narrow[i] != '"'; ++i)
      out += std::isupper(static_cast<unsigned char>(narrow[i])) ? std::string(1, narrow[i]) : "";
  }
  return out;
}

TEST(IntAverageTextTest, LinesOfEachScopeInBothForms) {
  const char* const byScope[] = {
      "FC F AET",          "AC FC F AET",      "AC FC F AET ANET", "AC FC F AET ACPUT", "AC FC F AET ACPUT ANET ANCPUT",
      "AC FC F AET ACPUT", "AC FC F AET ACPUT"};
  for (uint16_t agentType : std::initializer_list<uint16_t>{0, 2, 1}) {
    for (uint16_t scope = 0; scope <= 6; ++scope) {
      if (agentType == 0 && scope == 5) continue;
      EXPECT_EQ(labels(text(agentType, scope)), byScope[scope]) << agentType << scope;
    }
  }
  // The exact texts: the full form carries max, min and count on every
  // average; the plain form values only, and at scope 5 the high watermarks.
  const std::u16string head = u"<metric type=\"IntAverage\" name=\"ABC|disp_3|Order|create:";
  auto line = [&](const char16_t* label, const char16_t* rest) {
    return head + label + u"\" value=\"" + rest + u" />\n";
  };
  const std::u16string counters = line(u"Active Counter", u"1\"") + line(u"Finished Counter", u"2\"") +
                                  line(u"Finished with undefined state", u"1\"");
  EXPECT_EQ(text(2, 4), counters + line(u"Avg. Elapsed Time(ms)", u"20\" max=\"30\" min=\"10\" count=\"2\"") +
                            line(u"Avg. CPU Time(us)", u"400\" max=\"500\" min=\"300\" count=\"2\"") +
                            line(u"Avg. Net Elapsed Time(ms)", u"5\" max=\"6\" min=\"4\" count=\"2\"") +
                            line(u"Avg. Net CPU Time(us)", u"150\" max=\"200\" min=\"100\" count=\"2\""));
  EXPECT_EQ(text(0, 5), counters + line(u"Avg. Elapsed Time(ms)", u"20\"") + line(u"Avg. CPU Time(us)", u"400\"") +
                            line(u"Avg. Elapsed Time High Watermark(ms)", u"30\"") +
                            line(u"Avg. CPU Time High Watermark(us)", u"500\"") +
                            line(u"Avg. Net Elapsed Time High Watermark(ms)", u"6\"") +
                            line(u"Avg. Net CPU Time High Watermark(us)", u"200\""));
}

TEST(IntAverageTextTest, AveragesNeedTimesAndDivideElapsedUnsignedAndCpuSignedTowardZero) {
  CPerfRecord record(u"Order|create", 3);  // carried with running timings, no times yet
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(record, format(0, 5))), "AC FC F");
  record.apply(timed(8, -1, 8, -1, End::None));
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(record, format(0, 5))), "AC FC F AET ACPUT AETHW ANETHW")
      << "unmeasured CPU has no CPU watermarks";

  CPerfRecord sums(u"Order|create");
  // Elapsed sums wrap past int32; the CPU sum -3 over 2 gives -1, not -2.
  sums.apply(timed(2000000000, -1, 2000000000, -1));
  sums.apply(timed(2000000000, -2, 2000000000, -2));
  const std::u16string out = CPerfDataManager::formatIntAverage(sums, format(2, 3));
  EXPECT_NE(out.find(u"Avg. Elapsed Time(ms)\" value=\"2000000000\""), std::u16string::npos) << trcText(out);
  EXPECT_NE(out.find(u"Avg. CPU Time(us)\" value=\"-1\""), std::u16string::npos);
}

// Every count is unsigned 32-bit: past 2^31 it must not print negative.
TEST(IntAverageTextTest, CountsPrintUnsignedUpTo4294967295) {
  PerfValues v;
  v.active = 2147483648u;
  v.finished = 4294967295u;
  v.terminated = 2;
  v.count = 2147483649u;  // undefined state: 2 + 4294967295 - 2147483649 = 2147483648
  v.sumElapsed = 0, v.maxElapsed = 9, v.minElapsed = 3;
  const std::u16string head = u"<metric type=\"IntAverage\" name=\"ABC|disp_3|Order|create:";
  EXPECT_EQ(intAverageText(v, u"Order|create", format(2, 1)),
            head + u"Active Counter\" value=\"2147483648\" />\n" + head +
                u"Finished Counter\" value=\"4294967295\" />\n" + head +
                u"Finished with undefined state\" value=\"2147483648\" />\n" + head +
                u"Avg. Elapsed Time(ms)\" value=\"0\" max=\"9\" min=\"3\" count=\"2147483649\" />\n");
}

// A record is marked skipped by its calls' updates (and keeps the mark when
// its running calls are carried into the next interval).
TEST(IntAverageTextTest, SkippedKeysLoseOnlyTheActiveCounter) {
  const MetricFormat f = format(2, 1);
  PerfUpdate skippedStart{true};
  skippedStart.skipped = true;
  CPerfRecord skipped(u"Skip|run"), carried(u"Skip|run"), plain(u"Order|Skip");
  skipped.apply(skippedStart);
  carried.carryIn(1, true);
  plain.apply(PerfUpdate{true});
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(skipped, f)), "FC F");
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(carried, f)), "FC F");
  EXPECT_EQ(labels(CPerfDataManager::formatIntAverage(plain, f)), "AC FC F");
}

// Ends without a running timing (started before the interval's record existed,
// or not counted) must not wrap active below zero.
TEST(PerfRecordTest, EndsNeverTakeActiveBelowZero) {
  CPerfRecord record(u"K|m");
  for (const PerfUpdate& u : {timed(1, 1, 1, 1), kTerminated, kStart, timed(1, 1, 1, 1)}) record.apply(u);
  const PerfValues v = record.snapshot();
  EXPECT_EQ(std::to_string(v.active) + "/" + std::to_string(v.finished) + "/" + std::to_string(v.terminated), "0/2/1");
}

}  // namespace
