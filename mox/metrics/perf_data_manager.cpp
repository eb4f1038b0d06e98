#include "mox/metrics/perf_data_manager.h"

#include <algorithm>
#include <utility>

#include "dptrc/dptrc.h"
#include "thr/thr_guards.h"
#include "thr/thr_light_read.h"

namespace {

constexpr uint16_t kMinSectionCount = 2;

std::atomic<uint64_t> sectionSerials{0};
uint64_t newSectionSerial() { return sectionSerials.fetch_add(1, std::memory_order_relaxed) + 1; }

// Running timings carried into the current section per exclusive hold: the
// hold stays short however many keys have calls running at the switch.
constexpr size_t kCarriedPerHold = 64;

struct RunningKey {
  const std::u16string* key;  // in the detached section, which outlives the carry
  uint32_t active;
  bool skipped;
};

// The overflow record counts the calls of many keys: no key's skipped mark is its own.
PerfUpdate forOverflowRecord(const PerfUpdate& update) {
  PerfUpdate unmarked = update;
  unmarked.skipped = false;
  return unmarked;
}

}  // namespace

CPerfDataManager::CPerfDataManager() { ThrShardedRwLockInit(&sectionLock_); }

CPerfDataManager::~CPerfDataManager() {
  sections_.reset(0);
  ownedSections_.clear();
  if (sectionLock_) ThrShardedRwLockDelete(sectionLock_);
}

void CPerfDataManager::init(const CConfiguration& cfg) {
  // Without its locks the store would race; it then stays uninitialised and inert.
  if (!sectionLock_) return;
  ThrShardedExclusiveGuard hold(sectionLock_);
  if (initialised_.load(std::memory_order_relaxed)) return;
  const uint16_t count = std::max(cfg.getCacheSectionCount(), kMinSectionCount);
  sections_.reset(count);
  for (uint16_t number = 1; number <= count; ++number) {
    auto section = std::make_unique<CCacheSection>(number);
    if (!section->perfLock || !section->resourceLock) {
      sections_.reset(0);
      ownedSections_.clear();
      return;
    }
    sections_.pushBack(section.get());
    ownedSections_.push_back(std::move(section));
  }
  keyBound_ = cfg.getMaxTimingKeysPerInterval();
  currentSection_.store(sections_.front(), std::memory_order_release);
  currentSerial_.store(newSectionSerial(), std::memory_order_release);
  initialised_.store(true, std::memory_order_release);
}

CPerfRecord* CPerfDataManager::getPerfRecord(const std::u16string& key) {
  CPerfRecord* found = nullptr;
  withCurrentRecord(&CCacheSection::perfRecords, &CCacheSection::perfLock, key,
                    [&](CPerfRecord& record) { found = &record; });
  return found;
}

size_t CPerfDataManager::keyCount(const CCacheSection& section) NO_THREAD_SAFETY_ANALYSIS {
  const PerfRecordMap& records = section.perfRecords;
  return records.size() - records.count(kOtherTimingKeys);
}

// The maps of the current section change only under sectionLock exclusive,
// which the callers hold (shared here), so the look-ups need no record-map
// lock: a rule the lock analysis cannot state.
PerfTarget CPerfDataManager::updateWithoutOwnRecord(std::u16string_view key, const PerfUpdate& update,
                                                    PerfTarget target) NO_THREAD_SAFETY_ANALYSIS {
  std::u16string_view missing = key;
  PerfTarget taken = PerfTarget::Undecided;
  {
    ThrShardedSharedGuard read(sectionLock_);
    const CCacheSection& current = *sections_.front();
    const PerfRecordMap& records = current.perfRecords;
    auto found = target == PerfTarget::Overflow ? records.end() : records.find(key);
    if (found != records.end()) {
      found->second->apply(update);  // made meanwhile
      taken = PerfTarget::Key;
    } else if (target == PerfTarget::Overflow || (target == PerfTarget::Undecided && reachedKeyBound(current))) {
      missing = kOtherTimingKeys;
      auto other = records.find(kOtherTimingKeys);
      if (other != records.end()) {
        other->second->apply(forOverflowRecord(update));
        taken = PerfTarget::Overflow;
      }
    }
  }
  if (taken == PerfTarget::Undecided) {
    // The first record of the key (or of the overflow key) in this interval:
    // inserted under the exclusive lock, which new keys need rarely, keeping
    // the hot path off the map lock.
    PerfRecordMap::node_type made = madeRecord<PerfRecordMap>(missing);
    ThrShardedExclusiveGuard write(sectionLock_);
    taken = updateOrInsert(key, update, target, made);
  }
  if (target == PerfTarget::Undecided && taken == PerfTarget::Overflow) countOverflowingCall();
  return taken;
}

PerfTarget CPerfDataManager::updateOrInsert(std::u16string_view key, const PerfUpdate& update, PerfTarget target,
                                            PerfRecordMap::node_type& made) NO_THREAD_SAFETY_ANALYSIS {
  CCacheSection& current = *sections_.front();
  if (target == PerfTarget::Undecided) {
    // Made meanwhile, or made now while there is room.
    const bool ownRecord = current.perfRecords.count(key) != 0 || !reachedKeyBound(current);
    target = ownRecord ? PerfTarget::Key : PerfTarget::Overflow;
  }
  const bool overflow = target == PerfTarget::Overflow;
  CPerfRecord* record = placeRecord(current.perfRecords, current.perfLock, overflow ? kOtherTimingKeys : key, made);
  current.perfIndex.insert(record);
  record->apply(overflow ? forOverflowRecord(update) : update);
  return target;
}

// As above: the look-up under sectionLock shared needs no record-map lock.
PerfTarget CPerfDataManager::updateUnremembered(std::u16string_view key, const PerfUpdate& update, PerfTarget target,
                                                PerfRecordMemo* memo) NO_THREAD_SAFETY_ANALYSIS {
  if (target != PerfTarget::Overflow) {
    if (updateIndexed(key, update, memo)) return PerfTarget::Key;
    ThrShardedSharedGuard read(sectionLock_);
    const CCacheSection& current = *sections_.front();
    CPerfRecord* record = current.perfIndex.find(key);
    if (record == nullptr) {
      auto found = current.perfRecords.find(key);  // not indexed (past its size), or new
      if (found != current.perfRecords.end()) record = found->second.get();
    }
    if (record != nullptr) {
      if (memo != nullptr) *memo = PerfRecordMemo{record, currentSerial_.load(std::memory_order_relaxed)};
      record->apply(update);
      return PerfTarget::Key;
    }
  }
  return updateWithoutOwnRecord(key, update, target);
}

// The index is read in a light read, without its lock (perf_record_index.h):
// a rule the lock analysis cannot state.
bool CPerfDataManager::updateIndexed(std::u16string_view key, const PerfUpdate& update,
                                     PerfRecordMemo* memo) NO_THREAD_SAFETY_ANALYSIS {
  ThrLightRead read;
  if (!read) return false;
  // Serial first: a switch publishes the section before the serial.
  const uint64_t serial = currentSerial_.load(std::memory_order_acquire);
  CPerfRecord* record = currentSection_.load(std::memory_order_acquire)->perfIndex.find(key);
  if (record == nullptr) return false;
  if (memo != nullptr) *memo = PerfRecordMemo{record, serial};
  record->apply(update);
  return true;
}

void CPerfDataManager::countOverflowingCall() {
  withResourceRecord(kOverflowCallCount, [](CResourceRecord& record) { record.increase(1); });
  if (keyBoundTraced_.exchange(true, std::memory_order_relaxed)) return;
  MOX_TRC_ERROR(
      "An interval reached max_timing_keys_per_interval (%u timing keys): the calls of further keys are counted "
      "under \"Other Timing Keys\" and in \"Overflow Call Count\" (written once)\n",
      keyBound_);
}

// placeRecord takes the record-map lock itself: a rule the lock analysis
// cannot see through the reference it is handed.
void CPerfDataManager::carryRunningTimings(CCacheSection& from) NO_THREAD_SAFETY_ANALYSIS {
  // The detached section is no longer written: its running counts stay as read.
  std::vector<RunningKey> running;
  {
    ThrSharedGuard read(from.perfLock);
    for (const auto& entry : from.perfRecords) {
      const PerfValues values = entry.second->snapshot();
      if (values.active != 0) running.push_back({&entry.first, values.active, values.skipped});
    }
  }
  for (size_t first = 0; first < running.size(); first += kCarriedPerHold) {
    const size_t end = std::min(running.size(), first + kCarriedPerHold);
    std::vector<PerfRecordMap::node_type> made;
    for (size_t i = first; i < end; ++i) made.push_back(madeRecord<PerfRecordMap>(*running[i].key));
    ThrShardedExclusiveGuard write(sectionLock_);
    CCacheSection& current = *sections_.front();
    for (size_t i = first; i < end; ++i) {
      CPerfRecord* record = placeRecord(current.perfRecords, current.perfLock, *running[i].key, made[i - first]);
      current.perfIndex.insert(record);
      record->carryIn(running[i].active, running[i].skipped);
    }
  }
}

ResourceRecordMap CPerfDataManager::madeResourceRecords() NO_THREAD_SAFETY_ANALYSIS {
  std::vector<const std::u16string*> names;
  {
    ThrShardedSharedGuard read(sectionLock_);
    const CCacheSection& current = *sections_.front();
    ThrSharedGuard held(current.resourceLock);
    names.reserve(current.resourceRecords.size());
    for (const auto& entry : current.resourceRecords) names.push_back(&entry.first);
  }
  // The names stay where they are: only the data job, which runs this,
  // removes records from the current section.
  ResourceRecordMap made;
  for (const std::u16string* name : names) {
    made.emplace_hint(made.end(), *name, std::make_unique<CResourceRecord>(*name));
  }
  return made;
}

void CPerfDataManager::carryResources(CCacheSection& from, CCacheSection& to, ResourceRecordMap& made) {
  ThrSharedGuard read(from.resourceLock);
  ThrExclusiveGuard write(to.resourceLock);
  for (const auto& entry : from.resourceRecords) {
    auto slot = made.find(entry.first);
    // A resource reported for the first time after the records were made.
    if (slot == made.end()) slot = made.emplace(entry.first, std::make_unique<CResourceRecord>(entry.first)).first;
    slot->second->carryFrom(*entry.second);
  }
  to.resourceRecords.swap(made);
}

CCacheSection* CPerfDataManager::switchSection() {
  if (!initialised_.load(std::memory_order_acquire)) return nullptr;
  ResourceRecordMap carried;
  // Out of memory while carrying: what could not be carried restarts from
  // 0, but the rotation itself must complete.
  try {
    carried = madeResourceRecords();
  } catch (...) {
  }
  // What the new current section still holds from N intervals ago (when it
  // was not emptied after sending): freed after the lock.
  SectionContent discarded;
  CCacheSection* ended = nullptr;
  {
    ThrShardedExclusiveGuard hold(sectionLock_);
    MOX_TRC(2, "Start copying[lock]\n");
    ended = sections_.front();
    sections_.popFront();
    CCacheSection* current = sections_.front();
    discarded = current->takeContent();
    try {
      carryResources(*ended, *current, carried);
    } catch (...) {
    }
    currentSection_.store(current, std::memory_order_release);
    currentSerial_.store(newSectionSerial(), std::memory_order_seq_cst);
    MOX_TRC(2, "End copying[unlock]\n");
  }
  // Updates that found the old serial without the lock land in the ended
  // section before its running timings are read.
  ThrLightReadersDrain();
  try {
    carryRunningTimings(*ended);
  } catch (...) {
  }
  return ended;
}

void CPerfDataManager::putBack(CCacheSection* section) {
  if (!section) return;
  ThrShardedExclusiveGuard hold(sectionLock_);
  sections_.pushBack(section);
}

bool CPerfDataManager::hasNoPerfRecords(CCacheSection* section) const {
  ThrSharedGuard read(section->perfLock);
  return section->perfRecords.empty();
}

bool CPerfDataManager::hasNoResourceRecords(CCacheSection* section) const {
  ThrSharedGuard read(section->resourceLock);
  return section->resourceRecords.empty();
}

void CPerfDataManager::formatPerfSection(CCacheSection* section, const MetricFormat& format, const TextSink& take) {
  ThrSharedGuard read(section->perfLock);
  for (const auto& entry : section->perfRecords) take(formatIntAverage(*entry.second, format));
}

void CPerfDataManager::formatResourceSection(CCacheSection* section, const MetricFormat& format, const TextSink& take) {
  ThrSharedGuard read(section->resourceLock);
  for (const auto& entry : section->resourceRecords) {
    if (entry.second->snapshot().reported) take(formatLongCounter(*entry.second, format));
  }
}

void CPerfDataManager::handOverSection(CCacheSection* section, const MetricFormat& format,
                                       const std::function<bool()>& ready, const TextSink& take) {
  if (!ready || (hasNoPerfRecords(section) && hasNoResourceRecords(section))) return;
  MOX_TRC(1, "Performance or Resource Data Detected\n");
  // Not ready: this interval's data is lost.
  if (!ready()) return;
  formatPerfSection(section, format, take);
  formatResourceSection(section, format, take);
  MOX_TRC(2, "Performance or Resource Data Sending Finished\n");
}

void CPerfDataManager::handOverInterval(const MetricFormat& format, const std::function<bool()>& ready,
                                        const TextSink& take) {
  CCacheSection* ended = switchSection();
  if (!ended) return;
  // Whatever happens while the text goes out, the section must go back, or
  // the ring would lose it for good.
  try {
    handOverSection(ended, format, ready, take);
  } catch (...) {
  }
  // Sent: its records are freed here, outside the section lock, rather than
  // when it becomes current again.
  ended->takeContent();
  putBack(ended);
}
