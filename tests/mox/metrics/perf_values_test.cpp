// Partial values folded together read as the values of one sequence of
// updates, also where an unmeasured (negative) time restarts a minimum.
#include "mox/metrics/perf_values.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int64_t> fields(const PerfValues& v) {
  return {v.active,        v.finished,  v.terminated,    v.count,     v.sumElapsed,    v.sumCpu,
          v.sumNetElapsed, v.sumNetCpu, v.maxElapsed,    v.maxCpu,    v.maxNetElapsed, v.maxNetCpu,
          v.minElapsed,    v.minCpu,    v.minNetElapsed, v.minNetCpu, v.skipped};
}

// The i-th of a few updates whose times mix unmeasured (-1), zero and
// measured values differently in each field.
PerfUpdate update(int i) {
  static const int64_t kTimes[] = {-1, 0, 7, 3, -1, 12};
  PerfUpdate u;
  u.addTimes = true;
  u.elapsedMs = static_cast<int32_t>(kTimes[(i + 1) % 6] < 0 ? 0 : kTimes[(i + 1) % 6]);
  u.cpuUs = kTimes[i % 6];
  u.netElapsedMs = static_cast<int32_t>(kTimes[(i + 3) % 6]);
  u.netCpuUs = kTimes[(i + 2) % 6];
  u.end = i % 3 == 0 ? PerfUpdate::End::Terminated : PerfUpdate::End::Finished;
  return u;
}

void applyTo(PerfValues& v, RestartedMinima& restarted, const PerfUpdate& u) {
  restarted |= addTimes(v, u);
  ++(u.end == PerfUpdate::End::Finished ? v.finished : v.terminated);
}

// Every sequence of up to five of the updates (repeats allowed), cut at
// every point: the two parts folded equal the whole.
TEST(PerfValuesTest, FoldedPartsReadAsTheWholeSequence) {
  for (int length = 0; length <= 5; ++length) {
    int combinations = 1;
    for (int i = 0; i < length; ++i) combinations *= 6;
    for (int code = 0; code < combinations; ++code) {
      std::vector<PerfUpdate> updates;
      for (int i = 0, rest = code; i < length; ++i, rest /= 6) updates.push_back(update(rest % 6));
      PerfValues whole;
      RestartedMinima ignored = 0;
      for (const PerfUpdate& u : updates) applyTo(whole, ignored, u);
      for (int cut = 0; cut <= length; ++cut) {
        PerfValues earlier, later;
        RestartedMinima restarted = 0;
        for (int i = 0; i < cut; ++i) applyTo(earlier, ignored, updates[i]);
        for (int i = cut; i < length; ++i) applyTo(later, restarted, updates[i]);
        foldLater(earlier, later, restarted);
        ASSERT_EQ(fields(earlier), fields(whole)) << "sequence " << code << " of " << length << ", cut at " << cut;
      }
    }
  }
}

TEST(PerfValuesTest, FoldAddsCountersAndKeepsTheSkippedMark) {
  PerfValues earlier, later;
  earlier.active = 2;
  later.active = 3;
  later.finished = 4;
  later.terminated = 1;
  later.skipped = true;
  foldLater(earlier, later, 0);
  EXPECT_EQ(earlier.active, 5u);
  EXPECT_EQ(earlier.finished, 4u);
  EXPECT_EQ(earlier.terminated, 1u);
  EXPECT_TRUE(earlier.skipped);
  EXPECT_EQ(earlier.count, 0u);
  EXPECT_EQ(earlier.minElapsed, -1) << "no times: the minimum stays unset";
}

}  // namespace
