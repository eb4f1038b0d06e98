#include "mox/context/context.h"

#include <iterator>
#include <utility>

#include "common/clock.h"
#include "dptrc/dptrc.h"
#include "mox/config/configuration.h"
#include "mox/context/context_manager.h"
#include "passport/epp.h"

namespace {

// Room the trace of one call takes beyond its timing key, in characters.
constexpr uint32_t kTraceSizePerCall = 100;
constexpr size_t kInitialCallCapacity = 8;
// Records kept for reuse beyond this number are freed: a huge unit of work
// should not pin its memory for the rest of the thread's life.
constexpr size_t kMaxSpareRecords = 64;

}  // namespace

CMTContext::CMTContext(const CMTContextManager& manager) : manager_(&manager) {
  const CConfiguration* config = &manager.config();
  traceOn = traceModeOf(config->getTraceEnabledViaEm() == 1);
  setGlobalThresholds();
  createdTick = msTickCoarse();
  lastAccessTick.store(createdTick, std::memory_order_relaxed);
}

CMTContext::CMTContext(const CMTContextManager& manager, const std::u16string& newPassport) : manager_(&manager) {
  setGlobalThresholds();
  applyPassport(newPassport, true);
  copyManagerThresholds();
  createdTick = msTickCoarse();
  lastAccessTick.store(createdTick, std::memory_order_relaxed);
}

CMTContext::~CMTContext() { passportHandle.reset(); }

void CMTContext::setGlobalThresholds() {
  const CConfiguration* config = &manager_->config();
  levelThreshold = config->getInstrumentLevelThreshold();
  traceLevelThreshold = config->getInstrumentLevelThresholdTrace();
}

void CMTContext::copyManagerThresholds() {
  componentThresholds.clear();
  componentTraceThresholds.clear();
  hasComponentThresholds = manager_->copyComponentThresholds(componentThresholds);
  hasComponentTraceThresholds = manager_->copyComponentTraceThresholds(componentTraceThresholds);
}

void CMTContext::clearCallTree() {
  callStack_.clear();
  root = nullptr;
  recordsInUse_ = 0;
  if (records_.size() > kMaxSpareRecords) records_.resize(kMaxSpareRecords);
}

CMTCallRecord* CMTContext::newRecord(const TimingKeyView& timingKey, CMTCallRecord* parent, bool skipped) {
  if (recordsInUse_ == records_.size()) return madeRecord(timingKey, parent, skipped);
  CMTCallRecord* record = records_[recordsInUse_++].get();
  record->restart(manager_->callSettings(), timingKey, nextRecId, parent, traceOn == TraceMode::On, skipped);
  return record;
}

// Out of line: the common way, a spare record, then needs no frame of its own.
__attribute__((noinline)) CMTCallRecord* CMTContext::madeRecord(const TimingKeyView& timingKey, CMTCallRecord* parent,
                                                                bool skipped) {
  records_.push_back(std::make_unique<CMTCallRecord>(manager_->callSettings(), timingKey.str(), nextRecId, parent,
                                                     traceOn == TraceMode::On, skipped));
  return records_[recordsInUse_++].get();
}

void CMTContext::renew(const CMTContextManager& manager) {
  manager_ = &manager;
  state = Empty;
  const CConfiguration* config = &manager_->config();
  traceOn = traceModeOf(config->getTraceEnabledViaEm() == 1);
  passportTraceFlag = 0;
  passportTraceLevel = 0;
  setGlobalThresholds();
  nextRecId = 1;
  clearCallTree();
  passport.clear();
  traceGuid.clear();
  passportHandle.reset();
  rootContextId.clear();
  connectionId.clear();
  connectionCounter = 0;
  transactionId.clear();
  outConnectionId.clear();
  outCounter = 0;
  contextInfo.clear();
  traceSize = 0;
  collectTree = true;
  hasComponentThresholds = false;
  hasComponentTraceThresholds = false;
  previewSent = false;
  autoTraceSent = false;
  componentThresholds.clear();
  componentTraceThresholds.clear();
}

void CMTContext::stampCreated(uint32_t tick) {
  createdTick = tick;
  lastAccessTick.store(tick, std::memory_order_relaxed);
}

void CMTContext::reuse(const std::u16string& newPassport) {
  state = Empty;
  levelThreshold = manager_->config().getInstrumentLevelThreshold();
  nextRecId = 1;
  clearCallTree();
  applyPassport(newPassport, false);
  contextInfo.clear();
  traceSize = 0;
  collectTree = true;
  copyManagerThresholds();
  previewSent = false;
  autoTraceSent = false;
  createdTick = msTickCoarse();
  lastAccessTick.store(createdTick, std::memory_order_relaxed);
}

const std::u16string& CMTContext::guid() const {
  if (traceGuid.empty()) traceGuid = CreateGuidString();
  return traceGuid;
}

uint16_t CMTContext::componentThresholdFor(const TimingKeyView& timingKey, TraceMode mode) const {
  const ComponentLevels& levels = traceOn == TraceMode::On ? componentTraceThresholds : componentThresholds;
  for (const auto& entry : levels) {
    if (timingKey.ofComponent(entry.first)) return entry.second;
  }
  return mode == TraceMode::On ? traceLevelThreshold : levelThreshold;
}

uint32_t CMTContext::startTiming(const TimingKeyView& timingKey, uint16_t level) {
  if (level >= thresholdFor(timingKey, traceOn)) return 0;
  if (records_.capacity() == 0) {
    // Room for a few nested calls up front instead of growing one by one.
    records_.reserve(kInitialCallCapacity);
    callStack_.reserve(kInitialCallCapacity);
  }
  CMTCallRecord* parent = callStack_.empty() ? nullptr : callStack_.back();
  CMTCallRecord* record = newRecord(timingKey, parent, manager_->isSkipped(timingKey));
  if (traceOn == TraceMode::On && level >= thresholdFor(record->timingKey, TraceMode::Off)) record->traceOnly = true;
  record->begin();
  lastAccessTick.store(record->startTick, std::memory_order_relaxed);
  uint32_t result = nextRecId++;
  if (parent != nullptr) record->offsetMs = tickDiff(record->startTick, parent->startTick);
  growTraceSize(record->timingKey.size() + kTraceSizePerCall);
  if (parent != nullptr && collectTree) {
    if (parent->children.empty()) parent->children.reserve(5);
    parent->children.push_back(record);
    record->linked = true;
  }
  callStack_.push_back(record);
  if (state == Empty) {
    root = record;
    record->linked = true;
    state = Active;
  }
  if (collectTree && nextRecId > manager_->config().getMaxComponentsPerTransaction()) {
    if (traceOn == TraceMode::On) {
      queueTrace(TraceKind::MaxComponents);
      queueTrace(TraceKind::Full);
    }
    collectTree = false;
  }
  return result;
}

void CMTContext::closeCallsAbove(uint32_t recId) {
  while (!callStack_.empty() && callStack_.back()->recId > recId) {
    CMTCallRecord* inner = callStack_.back();
    callStack_.pop_back();
    inner->terminate(false, false);
    releaseIfUnlinked(inner);
  }
}

void CMTContext::releaseIfUnlinked(CMTCallRecord* ended) {
  if (ended->linked) return;
  // Calls end innermost first, so an unlinked one is found at the back.
  for (size_t at = recordsInUse_; at-- > 0;) {
    if (records_[at].get() != ended) continue;
    std::swap(records_[at], records_[--recordsInUse_]);
    if (records_.size() - recordsInUse_ > kMaxSpareRecords) records_.pop_back();
    return;
  }
}

bool CMTContext::closeCall(uint32_t recId, bool terminating) {
  if (callStack_.empty() || recId == 0) return false;
  CMTCallRecord* top = callStack_.back();
  int64_t endTick = -1;
  if (recId == top->recId) {
    callStack_.pop_back();
    endTick = terminating ? top->terminate(true, true) : top->end(true);
    releaseIfUnlinked(top);
  } else if (recId < top->recId) {
    closeCallsAbove(recId);
    // A recId that is not open: the next open call stays on the stack so that
    // terminateAll closes and counts it too.
    if (callStack_.empty() || callStack_.back()->recId != recId) {
      terminateAll();
      if (!terminating) MOX_TRC_HOST_ERROR("Abnormal exception encountered, invalid recId input!\n");
      return false;
    }
    CMTCallRecord* named = callStack_.back();
    callStack_.pop_back();
    endTick = terminating ? named->terminate(false, true) : named->end(false);
    releaseIfUnlinked(named);
  }
  int64_t sinceCreation =
      endTick < 0 ? -1 : static_cast<int64_t>(tickDiff(static_cast<uint32_t>(endTick), createdTick));
  if (endTick >= 0) lastAccessTick.store(static_cast<uint32_t>(endTick), std::memory_order_relaxed);
  runTraceChecks(sinceCreation);
  return endTick >= 0;
}

bool CMTContext::endTiming(uint32_t recId) { return closeCall(recId, false); }

bool CMTContext::terminateTiming(uint32_t recId) { return closeCall(recId, true); }

void CMTContext::runTraceChecks(int64_t sinceCreation) {
  const CConfiguration* config = &manager_->config();
  if (!autoTraceSent && traceOn == TraceMode::Off &&
      sinceCreation > static_cast<int64_t>(config->getAutoTransactionTraceThreshold()) * 1000) {
    queueTrace(TraceKind::Full);
    autoTraceSent = true;
  }
  bool treeTraced = traceOn == TraceMode::On && collectTree;
  if (callStack_.empty()) {
    state = Finished;
    if (treeTraced) queueTrace(TraceKind::Full);
    return;
  }
  if (!treeTraced) return;
  if (traceSize <= config->getTracesizeThreshold()) {
    if (previewSent || sinceCreation <= static_cast<int64_t>(config->getTracePreviewTimeout()) * 1000) return;
    queueTrace(TraceKind::Full);
    previewSent = true;
  } else {
    queueTrace(TraceKind::TooLarge);
    queueTrace(TraceKind::Full);
    collectTree = false;
  }
}

void CMTContext::terminateAll() {
  while (!callStack_.empty()) {
    CMTCallRecord* open = callStack_.back();
    callStack_.pop_back();
    open->terminate(false, false);
    releaseIfUnlinked(open);
  }
  state = Terminated;
  levelThreshold = 0;
}
