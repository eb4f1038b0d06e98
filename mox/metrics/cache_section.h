// CCacheSection: the performance and resource records of one interval.
//
// perfLock guards perfRecords and perfIndex, resourceLock guards resourceRecords (shared to
// read, exclusive to insert or remove); the current section's index is also
// read in light reads (perf_record_index.h). Both are taken only after the
// manager's sectionLock. Records are owned by the section.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "common/u16_less.h"
#include "mox/metrics/perf_record.h"
#include "mox/metrics/perf_record_index.h"
#include "mox/metrics/resource_record.h"
#include "thr/thr.h"

using PerfRecordMap = std::map<std::u16string, std::unique_ptr<CPerfRecord>, U16Less>;
using ResourceRecordMap = std::map<std::u16string, std::unique_ptr<CResourceRecord>, U16Less>;

// The records a section held, taken out whole so that they can be freed
// after the locks are released.
struct SectionContent {
  PerfRecordMap perfRecords;
  ResourceRecordMap resourceRecords;
};

struct CCacheSection {
  explicit CCacheSection(uint16_t sectionNumber);
  ~CCacheSection();
  CCacheSection(const CCacheSection&) = delete;
  CCacheSection& operator=(const CCacheSection&) = delete;

  ThrRwLock* perfLock = nullptr;
  ThrRwLock* resourceLock = nullptr;
  const uint16_t number;  // 1..N in creation order
  PerfRecordMap perfRecords GUARDED_BY(perfLock);
  // The timing path's way to perfRecords; holds a part of them at most.
  PerfRecordIndex perfIndex GUARDED_BY(perfLock);
  ResourceRecordMap resourceRecords GUARDED_BY(resourceLock);

  // Leaves the section empty and hands over what it held, without freeing
  // any of it (constant time, under both record-map locks).
  SectionContent takeContent();
};
