#include "mox/metrics/perf_data_manager.h"

#include <algorithm>
#include <utility>

#include "common/process_wide.h"
#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"
#include "mox/config/configuration.h"
#include "thr/thr_guards.h"

namespace {

std::atomic<CPerfDataManager*> instance{nullptr};

constexpr uint16_t kMinSectionCount = 2;

}  // namespace

CPerfDataManager* CPerfDataManager::getInstance() {
  return processWideInstance(instance, [] { return new CPerfDataManager(); });
}

void CPerfDataManager::destroyInstance() { destroyProcessWide(instance); }

void CPerfDataManager::abandonInstance() { abandonProcessWide(instance); }

CPerfDataManager::CPerfDataManager() { ThrShardedRwLockInit(&sectionLock_); }

CPerfDataManager::~CPerfDataManager() {
  sections_.clear();
  ownedSections_.clear();
  dataAgent_.reset();
  if (sectionLock_) ThrShardedRwLockDelete(sectionLock_);
}

void CPerfDataManager::init() {
  // Without its locks the store would race; it then stays uninitialised and inert.
  if (!sectionLock_) return;
  ThrShardedExclusiveGuard hold(sectionLock_);
  if (initialised_.load(std::memory_order_relaxed)) return;
  const uint16_t count = std::max(CConfiguration::getInstance()->getCacheSectionCount(), kMinSectionCount);
  for (uint16_t number = 1; number <= count; ++number) {
    auto section = std::make_unique<CCacheSection>(number);
    if (!section->perfLock || !section->resourceLock) {
      sections_.clear();
      ownedSections_.clear();
      return;
    }
    sections_.push_back(section.get());
    ownedSections_.push_back(std::move(section));
  }
  dataAgent_ = createDataSendingAgent();
  initialised_.store(true, std::memory_order_release);
}

CPerfRecord* CPerfDataManager::getPerfRecord(const std::u16string& key) {
  CPerfRecord* found = nullptr;
  withCurrentRecord(&CCacheSection::perfRecords, &CCacheSection::perfLock, key,
                    [&](CPerfRecord& record) { found = &record; });
  return found;
}

void CPerfDataManager::updatePerfRecord(std::u16string_view key, const PerfUpdate& update) {
  withCurrentRecord(&CCacheSection::perfRecords, &CCacheSection::perfLock, key,
                    [&](CPerfRecord& record) { record.apply(update); });
}

void CPerfDataManager::emptySection(CCacheSection& section) {
  ThrExclusiveGuard perf(section.perfLock);
  ThrExclusiveGuard resources(section.resourceLock);
  section.perfRecords.clear();
  section.resourceRecords.clear();
}

void CPerfDataManager::carryRunningTimings(CCacheSection& from, CCacheSection& to) {
  ThrSharedGuard read(from.perfLock);
  ThrExclusiveGuard write(to.perfLock);
  for (const auto& entry : from.perfRecords) {
    const uint32_t active = entry.second->snapshot().active;
    if (active == 0) continue;
    to.perfRecords.emplace(entry.first, std::make_unique<CPerfRecord>(entry.first, active));
  }
}

void CPerfDataManager::carryResources(CCacheSection& from, CCacheSection& to) {
  ThrSharedGuard read(from.resourceLock);
  ThrExclusiveGuard write(to.resourceLock);
  for (const auto& entry : from.resourceRecords) to.resourceRecords.emplace(entry.first, entry.second->carried());
}

CCacheSection* CPerfDataManager::switchSection() {
  if (!initialised_.load(std::memory_order_acquire)) return nullptr;
  ThrShardedExclusiveGuard hold(sectionLock_);
  MOX_TRC(2, "Start copying[lock]\n");
  CCacheSection* ended = sections_.front();
  sections_.pop_front();
  CCacheSection* current = sections_.front();
  // current still holds what it collected N intervals ago: discard it now.
  emptySection(*current);
  // Out of memory while carrying: what could not be carried restarts from 0,
  // but the rotation itself must complete.
  try {
    if (!hasNoPerfRecords(ended)) carryRunningTimings(*ended, *current);
  } catch (...) {
  }
  try {
    if (!hasNoResourceRecords(ended)) carryResources(*ended, *current);
  } catch (...) {
  }
  MOX_TRC(2, "End copying[unlock]\n");
  return ended;
}

void CPerfDataManager::putBack(CCacheSection* section) {
  if (!section) return;
  ThrShardedExclusiveGuard hold(sectionLock_);
  sections_.push_back(section);
}

bool CPerfDataManager::hasNoPerfRecords(CCacheSection* section) const {
  ThrSharedGuard read(section->perfLock);
  return section->perfRecords.empty();
}

bool CPerfDataManager::hasNoResourceRecords(CCacheSection* section) const {
  ThrSharedGuard read(section->resourceLock);
  return section->resourceRecords.empty();
}

void CPerfDataManager::formatPerfSection(CCacheSection* section, CMTDataSendingAgent* agent,
                                         const MetricFormat& format) {
  ThrSharedGuard read(section->perfLock);
  for (const auto& entry : section->perfRecords) agent->sendData(formatIntAverage(*entry.second, format));
}

void CPerfDataManager::formatResourceSection(CCacheSection* section, CMTDataSendingAgent* agent,
                                             const MetricFormat& format) {
  ThrSharedGuard read(section->resourceLock);
  for (const auto& entry : section->resourceRecords) {
    if (entry.second->snapshot().reported) agent->sendData(formatLongCounter(*entry.second, format));
  }
}

void CPerfDataManager::sendSection(CCacheSection* section, const MetricFormat& format) {
  CMTDataSendingAgent* agent = dataAgent_.get();
  if (!agent || (hasNoPerfRecords(section) && hasNoResourceRecords(section))) return;
  MOX_TRC(1, "Performance or Resource Data Detected\n");
  // An agent that is not ready loses this interval's data.
  if (!agent->checkConnection()) return;
  formatPerfSection(section, agent, format);
  formatResourceSection(section, agent, format);
  MOX_TRC(2, "Performance or Resource Data Sending Finished\n");
}

void CPerfDataManager::processData(const MetricFormat& format) {
  {
    ThrPlainMutexHold hold(busyLock_);
    if (busy_) return;
    busy_ = true;
  }
  CCacheSection* ended = switchSection();
  if (ended) {
    // Whatever happens while sending, the section must go back and busy be
    // cleared, or the data job would stop for good.
    try {
      sendSection(ended, format);
    } catch (...) {
    }
  }
  ThrShardedExclusiveGuard hold(sectionLock_);
  if (ended) sections_.push_back(ended);
  MOX_TRC(2, "Processing finished\n");
  ThrPlainMutexHold busyHold(busyLock_);
  busy_ = false;
}
