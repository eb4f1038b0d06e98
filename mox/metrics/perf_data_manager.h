// CPerfDataManager: a library's store of performance and resource
// records, kept in a ring of cache sections, and of the host's resource
// callbacks.
//
// The front of the queue is the current section; timings go into it. Each
// data interval the data job detaches it (switchSection), has it formatted
// into finished text that the dispatch room sends (handOverInterval), empties
// it and appends it at the back of the queue, where it waits to become
// current again. The store never sees an agent. Only the detaching and the carrying of resources
// happen under the exclusive section lock, in time independent of the
// number of timing keys: walking, formatting and freeing the records of an
// interval happen outside it, so a timing on another thread never waits for
// them. Nothing is allocated or freed under the exclusive lock either (new
// records are made before it is taken): after an interval's records were
// freed, an allocator may spend milliseconds tidying up in its next call.
//
// An interval records at most max_timing_keys_per_interval timing keys (0:
// no bound); calls of further keys go to the record kOtherTimingKeys, and
// each is counted in the built-in resource kOverflowCallCount.
//
// Locks, in the order they are taken:
//   sectionLock (readers-writer): shared while a record of the current section
//     is looked up and updated, exclusive while a record is inserted, sections
//     rotate or one is put back; an update through a memo of the current
//     section or through its index takes none (updateRemembered,
//     updateIndexed), and a rotation waits for those in progress;
//   a section's perfLock / resourceLock;
//   a record's own lock, or a resource record's kpiLock (nothing else is
//   taken while one is held).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mox/config/configuration.h"
#include "mox/metrics/cache_section.h"
#include "mox/metrics/metric_format.h"
#include "mox/metrics/perf_record.h"
#include "mox/metrics/perf_update.h"
#include "mox/metrics/resource_callbacks.h"
#include "mox/metrics/resource_record.h"
#include "mox/metrics/section_ring.h"
#include "thr/thr.h"
#include "thr/thr_light_read.h"
#include "thr/thr_sharded_rwlock.h"

class CPerfDataManager {
 public:
  // Inert until init; the destructor frees the sections and their records.
  CPerfDataManager();
  ~CPerfDataManager();
  CPerfDataManager(const CPerfDataManager&) = delete;
  CPerfDataManager& operator=(const CPerfDataManager&) = delete;

  // Creates `cache_section_count` sections (at least 2), numbered from 1 with
  // section 1 current; takes the key bound. Once only.
  void init(const CConfiguration& cfg);

  // The record of key in the current section, created when missing (past the
  // key bound too); nullptr before init. For reading: it is freed once its
  // interval has been sent.
  CPerfRecord* getPerfRecord(const std::u16string& key);
  // The hot path: finds or creates the record in the current section that
  // target names and applies the update while still holding sectionLock
  // shared, so a rotation never frees the record under the caller. Returns
  // the record taken (Key or Overflow), to be passed with the call's later
  // updates. Undecided resolving to Overflow counts the call in
  // kOverflowCallCount, and the first time also writes a trace line.
  // memo (optional, the call's own): used when it names the key's record in
  // the current section, and set when the key's record is found. No-op
  // before init (returns Key).
  // Inline as far as the remembered record: the way of every timing after a call's first.
  PerfTarget updatePerfRecord(std::u16string_view key, const PerfUpdate& update,
                              PerfTarget target = PerfTarget::Undecided, PerfRecordMemo* memo = nullptr) {
    if (!initialised_.load(std::memory_order_acquire)) return PerfTarget::Key;
    if (target != PerfTarget::Overflow && memo != nullptr && memo->record != nullptr &&
        updateRemembered(*memo, update)) {
      return PerfTarget::Key;
    }
    return updateUnremembered(key, update, target, memo);
  }
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
  // emptied (its records freed after the lock is released) and given every
  // resource and, right after, the records that still have running timings
  // (key and active only). nullptr before init. Only the data job calls it.
  CCacheSection* switchSection();
  // Appends a detached section at the back of the queue (sectionLock exclusive).
  void putBack(CCacheSection* section);
  bool hasNoPerfRecords(CCacheSection* section) const;
  bool hasNoResourceRecords(CCacheSection* section) const;

  // Where finished text goes, one record's lines at a time.
  using TextSink = std::function<void(std::u16string)>;
  // The text of each performance record of section, in key order, under the
  // section's perfLock shared.
  void formatPerfSection(CCacheSection* section, const MetricFormat& format, const TextSink& take);
  // The text of each reported resource record, in name order, under the
  // section's resourceLock shared.
  void formatResourceSection(CCacheSection* section, const MetricFormat& format, const TextSink& take);
  // The IntAverage metric lines of one record (plain form for agent type 0,
  // full form otherwise).
  static std::u16string formatIntAverage(const CPerfRecord& record, const MetricFormat& format);
  // The LongCounter (or LongCounterNone) lines of one resource record: the
  // full form with KPIs for agent type 2, three plain lines otherwise.
  static std::u16string formatLongCounter(const CResourceRecord& record, const MetricFormat& format);

  // The data job's half, for one caller at a time (the dispatch room's data
  // job): rotates; when the ended interval holds any record and ready is
  // set, traces that data was detected and asks ready() once, and when it
  // says yes hands the interval's text to take (performance records, then
  // reported resources). Then frees the interval's records and puts it
  // back. Without ready (nobody to send to) the interval is only dropped.
  void handOverInterval(const MetricFormat& format, const std::function<bool()>& ready, const TextSink& take);

 private:
  // The record of key in one map of the current section (records, guarded
  // by recordsLock), made when missing, given to apply while sectionLock is
  // held: shared when the record exists (every timing after a key's first),
  // exclusive to insert it. No-op before init.
  template <typename RecordMap, typename Apply>
  void withCurrentRecord(RecordMap CCacheSection::*records, ThrRwLock* CCacheSection::*recordsLock,
                         std::u16string_view key, Apply&& apply);
  // A record of key with its map node, made before the exclusive lock is taken.
  template <typename RecordMap>
  static typename RecordMap::node_type madeRecord(std::u16string_view key);
  // The record of key in records under recordsLock exclusive: found, or made
  // from made when that holds key (else made here: the interval changed since
  // made was made). What made still holds is the caller's to free.
  template <typename RecordMap>
  static auto* placeRecord(RecordMap& records, ThrRwLock* recordsLock, std::u16string_view key,
                           typename RecordMap::node_type& made);
  // Timing keys recorded in section (sectionLock held, shared or exclusive).
  static size_t keyCount(const CCacheSection& section);
  bool reachedKeyBound(const CCacheSection& section) const { return keyBound_ != 0 && keyCount(section) >= keyBound_; }
  // updatePerfRecord for a key that had no record in the current section, or
  // for target Overflow (takes the locks itself, like its caller): the
  // record found or made meanwhile, or the overflow record.
  PerfTarget updateWithoutOwnRecord(std::u16string_view key, const PerfUpdate& update, PerfTarget target);
  // Under sectionLock exclusive: decides an Undecided target again (the key
  // may have its record by now, the interval its bound) and applies update to
  // the record of the target, placed from made when missing.
  PerfTarget updateOrInsert(std::u16string_view key, const PerfUpdate& update, PerfTarget target,
                            PerfRecordMap::node_type& made);
  void countOverflowingCall();
  // The update of a call whose memo names its record in the current section,
  // applied without the section lock (a light read, thr/thr_light_read.h):
  // every timing after a call's first takes this road, which spares the two
  // read-modify-writes of the shared section lock. False when the memo is out
  // of date (or no light read could be had): then the locked road decides.
  bool updateRemembered(const PerfRecordMemo& memo, const PerfUpdate& update) {
    ThrLightRead read;
    if (!read || memo.section != currentSerial_.load(std::memory_order_relaxed)) return false;
    memo.record->apply(update);
    return true;
  }
  // updatePerfRecord past the remembered record.
  PerfTarget updateUnremembered(std::u16string_view key, const PerfUpdate& update, PerfTarget target,
                                PerfRecordMemo* memo);
  // The update of a call without a usable memo whose key the current
  // section's index holds, found and applied inside a light read as above,
  // and remembered in memo: a call's first update, when a thread goes round
  // many keys, then also spares the shared section lock. False when the
  // index does not hold the key: the locked road decides.
  bool updateIndexed(std::u16string_view key, const PerfUpdate& update, PerfRecordMemo* memo);
  // From the detached section into the current one (a few records per
  // exclusive hold): the caller holds no lock.
  void carryRunningTimings(CCacheSection& from);
  // A fresh record for each resource of the current section, made without
  // holding sectionLock while allocating; only the data job may call it.
  ResourceRecordMap madeResourceRecords();
  // Every resource, reported or not, keeps its value into the next interval:
  // to (empty) gets the records of made, with the values carried from from.
  static void carryResources(CCacheSection& from, CCacheSection& to, ResourceRecordMap& made);
  void handOverSection(CCacheSection* section, const MetricFormat& format, const std::function<bool()>& ready,
                       const TextSink& take);

  // Taken shared by every timing from every thread: sharded, so that
  // concurrent timings do not contend on one cache line.
  ThrShardedRwLock* sectionLock_ = nullptr;
  std::atomic<bool> initialised_{false};
  uint32_t keyBound_ = 0;  // max_timing_keys_per_interval, set by init
  std::atomic<bool> keyBoundTraced_{false};
  SectionRing sections_ GUARDED_BY(sectionLock_);  // front is current
  // Tells the current section from every earlier one, of any store
  // (PerfRecordMemo): new at init and at each switch, written under
  // sectionLock exclusive. Read under the lock, and by the light reads of
  // updateRemembered, which a switch drains before it touches the ended
  // section's records.
  std::atomic<uint64_t> currentSerial_{0};
  // The front of sections_, for updateIndexed: published under sectionLock
  // exclusive once the section is emptied and before currentSerial_, so a
  // serial read before it never pairs with an older section's record.
  std::atomic<CCacheSection*> currentSection_{nullptr};
  // Every section, queued or detached.
  std::vector<std::unique_ptr<CCacheSection>> ownedSections_ GUARDED_BY(sectionLock_);
  CResourceCallbacks callbacks_;
};

template <typename Apply>
void CPerfDataManager::withResourceRecord(std::u16string_view name, Apply&& apply) {
  withCurrentRecord(&CCacheSection::resourceRecords, &CCacheSection::resourceLock, name, apply);
}

template <typename RecordMap>
typename RecordMap::node_type CPerfDataManager::madeRecord(std::u16string_view key) {
  RecordMap one;
  std::u16string ownedKey(key);
  auto record = std::make_unique<typename RecordMap::mapped_type::element_type>(ownedKey);
  one.emplace(std::move(ownedKey), std::move(record));
  return one.extract(one.begin());
}

// The maps of the current section change only under sectionLock exclusive,
// which is held here, shared or exclusive, so a look-up needs no record-map
// lock: a rule the lock analysis cannot state.
template <typename RecordMap>
auto* CPerfDataManager::placeRecord(RecordMap& records, ThrRwLock* recordsLock, std::u16string_view key,
                                    typename RecordMap::node_type& made) {
  ThrExclusiveGuard insert(recordsLock);
  auto found = records.find(key);
  if (found != records.end()) return found->second.get();  // inserted meanwhile
  if (!made.empty() && made.key() == key) return records.insert(std::move(made)).position->second.get();
  std::u16string ownedKey(key);
  auto record = std::make_unique<typename RecordMap::mapped_type::element_type>(ownedKey);
  return records.emplace(std::move(ownedKey), std::move(record)).first->second.get();
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
  typename RecordMap::node_type made = madeRecord<RecordMap>(key);
  ThrShardedExclusiveGuard write(sectionLock_);
  CCacheSection& current = *sections_.front();
  apply(*placeRecord(current.*records, current.*recordsLock, key, made));
}
