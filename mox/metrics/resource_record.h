// CResourceRecord: the values of one named resource in one cache section.
//
// Every value operation takes the record's own lock and nothing else; the
// KPIs have their own readers-writer lock. The caller holds the metric
// store's sectionLock shared around each operation, so a record is never
// updated after it has been carried into the next section. Arithmetic on the
// current value wraps.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "common/u16_less.h"
#include "thr/thr.h"
#include "thr/thr_spinlock.h"

// The library's own resources: contexts removed by the registry's scan,
// set to 0 at start;
constexpr std::u16string_view kZombieContextCount = u"Zombie Context Count";
constexpr std::u16string_view kEmptyContextCount = u"Empty Context Count";
// and the work turned away by the bounds, made at the first count only, so
// that the metric text shows them only in the intervals in which a bound was
// reached: new contexts refused at max_open_contexts, calls of timing keys
// counted under kOtherTimingKeys.
constexpr std::u16string_view kRefusedContextCount = u"Refused Context Count";
constexpr std::u16string_view kOverflowCallCount = u"Overflow Call Count";

struct ResourceValues {
  bool fullCounter = true;  // sent with max, min, count and KPIs
  int64_t firstValue = 0;   // 0: nothing set yet
  int64_t current = 0;
  int64_t high = 0;  // watermarks of the interval
  int64_t low = 0;
  uint32_t count = 0;     // reports in the interval
  bool reported = false;  // changed in this interval, so sent
};

using KpiMap = std::map<std::u16string, int64_t, U16Less>;

class CResourceRecord {
 public:
  explicit CResourceRecord(std::u16string name);
  ~CResourceRecord();
  CResourceRecord(const CResourceRecord&) = delete;
  CResourceRecord& operator=(const CResourceRecord&) = delete;

  const std::u16string& name() const { return name_; }

  // flag 0 makes the record a full counter, anything else a plain value.
  void initialize(int64_t value, int16_t flag);
  void increase(int64_t delta);
  void decrease(int64_t delta);
  void report(int64_t current, int64_t high, int64_t low, uint32_t count, int16_t flag);
  // Sets (or adds) a KPI; does not mark the record reported.
  void setKpi(const std::u16string& kpiName, int64_t value);

  // Makes this fresh record (of the same name, not shared yet) the record of
  // the interval after ended's: same kind, first and current value;
  // watermarks at the current value, no count, not reported, no KPIs.
  // Allocates nothing.
  void carryFrom(const CResourceRecord& ended);

  ResourceValues snapshot() const;
  KpiMap kpis() const;

 private:
  const std::u16string name_;
  mutable ThrSpinLock lock_;
  ResourceValues v_ GUARDED_BY(lock_);
  ThrRwLock* kpiLock_ = nullptr;  // nullptr when it could not be made: KPIs are dropped
  KpiMap kpis_ GUARDED_BY(kpiLock_);
};
