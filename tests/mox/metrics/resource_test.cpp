// Resource records and the callback schedule. The exports' tests show the
// values, watermarks and KPI lines of their text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "mox/metrics/resource_callbacks.h"
#include "mox/metrics/resource_record.h"

namespace {

TEST(ResourceRecordTest, ReportsAddUpAndSetTheKindAndValuesWrap) {
  CResourceRecord reported(u"R");
  reported.report(10, 20, 1, 4, 1);
  EXPECT_FALSE(reported.snapshot().fullCounter);
  reported.report(12, 15, 0, 3, 0);
  const ResourceValues v = reported.snapshot();
  EXPECT_EQ(std::vector<int64_t>({v.current, v.high, v.low, v.count}), std::vector<int64_t>({12, 20, 0, 7}));
  EXPECT_TRUE(v.fullCounter);

  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  CResourceRecord wrap(u"Wrap");
  wrap.initialize(kMax, 0);
  wrap.increase(1);
  EXPECT_EQ(wrap.snapshot().current, std::numeric_limits<int64_t>::min());
  wrap.decrease(1);
  EXPECT_EQ(wrap.snapshot().current, kMax);
}

std::vector<int> calls;
CResourceCallbacks* table = nullptr;
void first() { calls.push_back(1); }
void second() { calls.push_back(2); }
void third() { calls.push_back(3); }
void addsFour() {
  first();
  table->registerCallback(4, third, 0, 0, 0, 60);
}
void removesItselfAndThird() {
  second();
  table->deregisterCallback(2);
  table->deregisterCallback(3);
}
void throws() {
  calls.push_back(0);
  throw std::runtime_error("host failure");
}

TEST(ResourceCallbackScheduleTest, FirstDueOnTheGridThenAfterEachMultipleOfTheInterval) {
  // interval, offset, now, first due; the grid itself is shown below
  const int64_t cases[][4] = {
      {300, 0, 1200, 1200},    // on the grid already
      {300, 250, 1000, 1150},  // offset still ahead in this period
      {300, 50, 1000, 1250},   // offset passed: next period
      {300, 350, 1000, 1250},  // offset taken modulo the interval (50, passed)
      {300, -1, 1000, 1095},   // -1 is 4294967295; mod 300 = 195
      {0, 0, 1000, 1000},      // not longer than the sending interval: at once
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CResourceCallbacks::firstDue(uint32_t(c[0]), int32_t(c[1]), uint32_t(c[2]), 60), c[3])
        << c[0] << "/" << c[1];
  }
  CResourceCallbacks callbacks;
  calls.clear();
  callbacks.registerCallback(1, first, 300, 0, 1000, 60);  // due after 1200
  std::vector<uint32_t> ranAt;
  for (uint32_t now = 1061; now < 2000; now += 61) {  // data runs every 61 s
    const size_t before = calls.size();
    callbacks.runDue(now);
    if (calls.size() > before) ranAt.push_back(now);
  }
  EXPECT_EQ(ranAt, (std::vector<uint32_t>{1244, 1549, 1854}));

  callbacks.registerCallback(2, second, 30, 0, 2000, 60);
  calls.clear();
  for (uint32_t now = 2061; now < 2400; now += 61) callbacks.runDue(now);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), 2), 6) << "every run when not longer than the sending interval";
}

TEST(ResourceCallbackScheduleTest, RegistrationRulesAndChangesFromInsideTheWalk) {
  CResourceCallbacks callbacks;
  table = &callbacks;
  calls.clear();
  callbacks.registerCallback(1, addsFour, 0, 0, 0, 60);
  callbacks.registerCallback(1, second, 0, 0, 0, 60);  // the first registration stays
  callbacks.registerCallback(2, removesItselfAndThird, 0, 0, 0, 60);
  callbacks.registerCallback(3, third, 0, 0, 0, 60);
  callbacks.registerCallback(5, nullptr, 0, 0, 0, 60);  // ignored
  callbacks.registerCallback(6, throws, 0, 0, 0, 60);
  EXPECT_EQ(callbacks.size(), 4u);

  callbacks.runDue(10);
  // 1 registers 4 (called in the same walk, as it is due), 2 removes itself
  // and 3 before 3's turn, the throwing 6 does not stop the walk.
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(callbacks.size(), 3u);
  calls.clear();
  callbacks.deregisterCallback(99);
  callbacks.runDue(11);
  EXPECT_EQ(calls, (std::vector<int>{1, 3, 0}));
  table = nullptr;
}

}  // namespace
