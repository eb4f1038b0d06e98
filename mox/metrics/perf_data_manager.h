// CPerfDataManager: the process-wide store of performance and resource
// records, kept in a ring of cache sections, and of the host's resource
// callbacks.
//
// The front of the queue is the current section; timings go into it. Each
// data interval the data job detaches it (switchSection), formats and sends
// it outside the section lock, and appends it at the back of the queue, where
// it waits to become current again and be emptied N intervals later.
//
// Locks, in the order they are taken:
//   sectionLock (readers-writer): shared while a record of the current section
//     is looked up or updated, exclusive while a record is inserted, sections
//     rotate or one is put back;
//   a section's perfLock / resourceLock;
//   a record's own lock, or a resource record's kpiLock (nothing else is
//   taken while one is held);
//   busyLock (guards busy; never held while waiting for sectionLock).
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mox/agents/data_sending_agent.h"
#include "mox/metrics/cache_section.h"
#include "mox/metrics/metric_format.h"
#include "mox/metrics/perf_record.h"
#include "mox/metrics/perf_update.h"
#include "mox/metrics/resource_callbacks.h"
#include "mox/metrics/resource_record.h"
#include "thr/thr.h"
#include "thr/thr_plain_mutex.h"
#include "thr/thr_sharded_rwlock.h"

class CPerfDataManager {
 public:
  // Created on the first call (from the initialisation, before other threads
  // run); destroyInstance frees the sections, their records and the agent.
  static CPerfDataManager* getInstance();
  static void destroyInstance();
  static void abandonInstance();  // forgets it untouched (forked child)

  // Creates `cache_section_count` sections (at least 2), numbered from 1 with
  // section 1 current, and the data agent of the configured kind. Once only.
  void init();

  // The record of key in the current section, created when missing; nullptr
  // before init. The caller updates it after every lock is released, so an
  // update racing with a rotation may land in the detached section.
  CPerfRecord* getPerfRecord(const std::u16string& key);
  // The hot path: finds or creates the record in the current section and
  // applies the update while still holding sectionLock shared, so a rotation
  // never frees the record under the caller. No-op before init.
  void updatePerfRecord(std::u16string_view key, const PerfUpdate& update);
  // Finds or creates the resource record of name in the current section and
  // calls apply(record) while still holding sectionLock shared, so that no
  // update lands in a section after its resources were carried on. No-op
  // before init.
  template <typename Apply>
  void withResourceRecord(std::u16string_view name, Apply&& apply);

  // The host's callbacks; runDueCallbacks is the data dispatcher's, before
  // each data job (now: wall-clock seconds since 1970).
  CResourceCallbacks& resourceCallbacks() { return callbacks_; }
  void runDueCallbacks(uint32_t now) { callbacks_.runDue(now); }

  // Detaches the current section and returns it; the next one becomes current,
  // emptied and given the records that still have running timings (key and
  // active only). nullptr before init. Only the data job calls it.
  CCacheSection* switchSection();
  // Appends a detached section at the back of the queue (sectionLock exclusive).
  void putBack(CCacheSection* section);
  bool hasNoPerfRecords(CCacheSection* section) const;
  bool hasNoResourceRecords(CCacheSection* section) const;

  // One sendData per performance record of section, in key order, under the
  // section's perfLock shared.
  void formatPerfSection(CCacheSection* section, CMTDataSendingAgent* agent, const MetricFormat& format);
  // One sendData per reported resource record, in name order, under the
  // section's resourceLock shared.
  void formatResourceSection(CCacheSection* section, CMTDataSendingAgent* agent, const MetricFormat& format);
  // The IntAverage metric lines of one record (plain form for agent type 0,
  // full form otherwise).
  static std::u16string formatIntAverage(const CPerfRecord& record, const MetricFormat& format);
  // The LongCounter (or LongCounterNone) lines of one resource record: the
  // full form with KPIs for agent type 2, three plain lines otherwise.
  static std::u16string formatLongCounter(const CResourceRecord& record, const MetricFormat& format);

  // The data job: rotate, send the detached section when the agent is ready,
  // put it back. A call that finds the job running returns at once.
  void processData(const MetricFormat& format);

  CMTDataSendingAgent* dataAgent() const { return dataAgent_.get(); }
  // Replaces the agent chosen by init (tests, other sinks). Only while no
  // data job runs.
  void setDataAgent(std::unique_ptr<CMTDataSendingAgent> agent) { dataAgent_ = std::move(agent); }

  ~CPerfDataManager();

 private:
  CPerfDataManager();
  CPerfDataManager(const CPerfDataManager&) = delete;
  CPerfDataManager& operator=(const CPerfDataManager&) = delete;

  // The record of key in one map of the current section (records, guarded
  // by recordsLock), made when missing, given to apply while sectionLock is
  // held: shared when the record exists (every timing after a key's first),
  // exclusive to insert it. No-op before init.
  template <typename RecordMap, typename Apply>
  void withCurrentRecord(RecordMap CCacheSection::*records, ThrRwLock* CCacheSection::*recordsLock,
                         std::u16string_view key, Apply&& apply);
  // The record of key in records, made with the key alone when missing,
  // under recordsLock exclusive.
  template <typename RecordMap>
  static auto* insertRecord(RecordMap& records, ThrRwLock* recordsLock, std::u16string_view key);
  static void emptySection(CCacheSection& section);
  static void carryRunningTimings(CCacheSection& from, CCacheSection& to);
  // Every resource, reported or not, keeps its value into the next interval.
  static void carryResources(CCacheSection& from, CCacheSection& to);
  void sendSection(CCacheSection* section, const MetricFormat& format);

  ThrPlainMutex busyLock_;
  bool busy_ GUARDED_BY(busyLock_) = false;
  // Taken shared by every timing from every thread: sharded, so that
  // concurrent timings do not contend on one cache line.
  ThrShardedRwLock* sectionLock_ = nullptr;
  std::atomic<bool> initialised_{false};
  std::deque<CCacheSection*> sections_ GUARDED_BY(sectionLock_);  // front is current
  // Every section, queued or detached.
  std::vector<std::unique_ptr<CCacheSection>> ownedSections_ GUARDED_BY(sectionLock_);
  std::unique_ptr<CMTDataSendingAgent> dataAgent_;
  CResourceCallbacks callbacks_;
};

template <typename Apply>
void CPerfDataManager::withResourceRecord(std::u16string_view name, Apply&& apply) {
  withCurrentRecord(&CCacheSection::resourceRecords, &CCacheSection::resourceLock, name, apply);
}

// The maps of the current section change only under sectionLock exclusive,
// which is held here, shared or exclusive, so a look-up needs no record-map
// lock: a rule the lock analysis cannot state.
template <typename RecordMap>
auto* CPerfDataManager::insertRecord(RecordMap& records, ThrRwLock* recordsLock, std::u16string_view key) {
  ThrExclusiveGuard insert(recordsLock);
  auto found = records.find(key);
  if (found != records.end()) return found->second.get();  // inserted meanwhile
  std::u16string ownedKey(key);
  auto made = std::make_unique<typename RecordMap::mapped_type::element_type>(ownedKey);
  return records.emplace(std::move(ownedKey), std::move(made)).first->second.get();
}

template <typename RecordMap, typename Apply>
void CPerfDataManager::withCurrentRecord(RecordMap CCacheSection::*records, ThrRwLock* CCacheSection::*recordsLock,
                                         std::u16string_view key, Apply&& apply) NO_THREAD_SAFETY_ANALYSIS {
  if (!initialised_.load(std::memory_order_acquire)) return;
  {
    ThrShardedSharedGuard read(sectionLock_);
    const auto& map = sections_.front()->*records;
    auto found = map.find(key);
    if (found != map.end()) {
      apply(*found->second);
      return;
    }
  }
  // The key's first record of this interval: inserted under the exclusive
  // lock, which new keys need rarely, keeping the hot path off the map lock.
  ThrShardedExclusiveGuard write(sectionLock_);
  CCacheSection& current = *sections_.front();
  auto* record = insertRecord(current.*records, current.*recordsLock, key);
  apply(*record);
}
