// The timing path's hash index over a section's records: what it holds it
// finds, what it does not hold it never claims, and the store finds every
// record whether indexed or not, in every interval.
#include "mox/metrics/perf_record_index.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mox/metrics/perf_data_manager.h"
#include "support/agent_test_support.h"

using namespace agenttest;

namespace {

std::u16string keyOf(size_t i) {
  const std::string digits = std::to_string(i);
  return u"Comp|method" + std::u16string(digits.begin(), digits.end());
}

TEST(PerfRecordIndexTest, FindsWhatItHoldsUpToItsSize) {
  std::vector<std::unique_ptr<CPerfRecord>> records;
  for (size_t i = 0; i < PerfRecordIndex::kMaxRecords + 10; ++i)
    records.push_back(std::make_unique<CPerfRecord>(keyOf(i)));
  PerfRecordIndex index;
  EXPECT_EQ(index.find(keyOf(0)), nullptr);
  for (auto& record : records) {
    index.insert(record.get());
    index.insert(record.get());  // a second time takes no second place
  }
  for (size_t i = 0; i < records.size(); ++i) {
    CPerfRecord* expected = i < PerfRecordIndex::kMaxRecords ? records[i].get() : nullptr;
    ASSERT_EQ(index.find(keyOf(i)), expected) << "key " << i;
  }
  // Prefixes, extensions and keys of another length are other keys.
  EXPECT_EQ(index.find(u"Comp|method"), nullptr);
  EXPECT_EQ(index.find(u"Comp|method10x"), nullptr);
  EXPECT_EQ(index.find(u""), nullptr);
  index.clear();
  EXPECT_EQ(index.find(keyOf(1)), nullptr);
  index.insert(records.back().get());
  EXPECT_EQ(index.find(keyOf(records.size() - 1)), records.back().get());
}

// More keys than the index holds, over three intervals (sections come back
// with their records freed): every update reaches its own key's record.
TEST(PerfRecordIndexTest, StoreCountsEveryKeyIndexedOrNot) {
  const auto cfg = testConfiguration({{u"cache_section_count", u"2"}});
  CPerfDataManager store;
  store.init(*cfg);
  const size_t keys = PerfRecordIndex::kMaxRecords + 100;
  for (uint32_t interval = 1; interval <= 3; ++interval) {
    for (uint32_t round = 0; round < interval; ++round) {
      for (size_t i = 0; i < keys; ++i) {
        PerfRecordMemo memo;  // a fresh call each time: the look-up, not the memo
        store.updatePerfRecord(keyOf(i), PerfUpdate{true}, PerfTarget::Undecided, &memo);
        store.updatePerfRecord(keyOf(i), PerfUpdate{false, true, 5, -1, 5, -1, PerfUpdate::End::Finished});
      }
    }
    for (size_t i = 0; i < keys; ++i) {
      const PerfValues values = store.getPerfRecord(keyOf(i))->snapshot();
      ASSERT_EQ(values.finished, interval) << "key " << i << ", interval " << interval;
      ASSERT_EQ(values.active, 0u) << "key " << i << ", interval " << interval;
    }
    store.handOverInterval(MetricFormat{u"SYS", 2, PerfMetricScope::kElapsedAndActive}, nullptr, nullptr);
  }
}

}  // namespace
