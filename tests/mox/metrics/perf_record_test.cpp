#include "mox/metrics/perf_record.h"

#include <gtest/gtest.h>

namespace {

TEST(PerfRecordTest, StartsWithUnsetMinimaAndCpuMaxima) {
  const PerfValues v = CPerfRecord(u"C|m").snapshot();
  EXPECT_EQ(v.maxElapsed, 0);
  EXPECT_EQ(v.maxNetElapsed, 0);
  EXPECT_EQ(v.maxCpu, -1);
  EXPECT_EQ(v.maxNetCpu, -1);
  EXPECT_EQ(v.minElapsed, -1);
  EXPECT_EQ(v.minCpu, -1);
  EXPECT_EQ(v.minNetElapsed, -1);
  EXPECT_EQ(v.minNetCpu, -1);
  EXPECT_EQ(v.count, 0u);
}

TEST(PerfRecordTest, AddTimesTracksSumsExtremaAndCount) {
  CPerfRecord record(u"C|m");
  record.addTimes(30, 300, 3, 30);
  record.addTimes(0, 100, 1, 10);  // 0 is a real minimum, not "unset"
  record.addTimes(20, 200, 2, 20);
  const PerfValues v = record.snapshot();
  EXPECT_EQ(v.count, 3u);
  EXPECT_EQ(v.sumElapsed, 50);
  EXPECT_EQ(v.sumCpu, 600);
  EXPECT_EQ(v.sumNetElapsed, 6);
  EXPECT_EQ(v.sumNetCpu, 60);
  EXPECT_EQ(v.maxElapsed, 30);
  EXPECT_EQ(v.minElapsed, 0);
  EXPECT_EQ(v.maxCpu, 300);
  EXPECT_EQ(v.minCpu, 100);
  EXPECT_EQ(v.maxNetElapsed, 3);
  EXPECT_EQ(v.minNetElapsed, 1);
  EXPECT_EQ(v.maxNetCpu, 30);
  EXPECT_EQ(v.minNetCpu, 10);
}

TEST(PerfRecordTest, UnmeasuredCpuLeavesCpuMaximaUnset) {
  CPerfRecord record(u"C|m");
  record.addTimes(5, -1, 5, -1);
  record.addTimes(7, -1, 7, -1);
  const PerfValues v = record.snapshot();
  EXPECT_EQ(v.maxCpu, -1);
  EXPECT_EQ(v.maxNetCpu, -1);
  EXPECT_EQ(v.minCpu, -1);
  EXPECT_EQ(v.minElapsed, 5);
}

TEST(PerfRecordTest, ElapsedSumWrapsInsteadOfOverflowing) {
  CPerfRecord record(u"C|m");
  record.addTimes(2000000000, -1, 0, -1);
  record.addTimes(2000000000, -1, 0, -1);
  EXPECT_EQ(static_cast<uint32_t>(record.snapshot().sumElapsed), 4000000000u);
}

TEST(PerfRecordTest, EndsNeverTakeActiveBelowZero) {
  CPerfRecord record(u"C|m", 1);
  record.endFinished();
  record.endFinished();
  record.endTerminated();
  const PerfValues v = record.snapshot();
  EXPECT_EQ(v.active, 0u);
  EXPECT_EQ(v.finished, 2u);
  EXPECT_EQ(v.terminated, 1u);
}

TEST(PerfRecordTest, ApplyRunsStartTimesAndEndInOrder) {
  CPerfRecord record(u"C|m");
  PerfUpdate whole;
  whole.incActive = true;
  whole.addTimes = true;
  whole.elapsedMs = 12;
  whole.cpuUs = 400;
  whole.end = PerfUpdate::End::Finished;
  record.apply(whole);  // incActive first, so the end finds it running

  PerfUpdate start;
  start.incActive = true;
  record.apply(start);
  PerfUpdate terminate;
  terminate.end = PerfUpdate::End::Terminated;
  record.apply(terminate);

  const PerfValues v = record.snapshot();
  EXPECT_EQ(v.active, 0u);
  EXPECT_EQ(v.finished, 1u);
  EXPECT_EQ(v.terminated, 1u);
  EXPECT_EQ(v.count, 1u);
  EXPECT_EQ(v.sumElapsed, 12);
  EXPECT_EQ(v.maxCpu, 400);
}

}  // namespace
