#include "mox/context/call_record.h"

#include <utility>

#include "common/clock.h"
#include "dptrc/dptrc.h"
#include "mox/context/cpu_span.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/metrics/perf_update.h"

namespace {

// CPU microseconds since start; -1 when either reading failed.
int64_t cpuSince(int64_t start) { return start < 0 ? -1 : cpuSpan(threadCpuMicros(), start); }

const char* yesNo(bool atTop) { return atTop ? "YES" : "NO"; }

}  // namespace

CMTCallRecord::CMTCallRecord(const CallSettings& settings, std::u16string key, uint32_t id, CMTCallRecord* parentCall,
                             bool traced, bool skipped)
    : timingKey(std::move(key)),
      recId(id),
      traceOn(traced),
      parent(parentCall),
      settings_(&settings),
      skipped_(skipped) {}

void CMTCallRecord::restart(const CallSettings& settings, const TimingKeyView& key, uint32_t id,
                            CMTCallRecord* parentCall, bool traced, bool skipped) {
  settings_ = &settings;
  // The same key's record is in the same place while its section is current:
  // a unit of work repeating its calls skips the record's look-up.
  if (!key.equals(timingKey)) {
    key.assignTo(timingKey);
    perfMemo_ = PerfRecordMemo{};
  }
  recId = id;
  status = Running;
  traceOn = traced;
  traceOnly = false;
  startTick = 0;
  cpuStart = -1;
  elapsedMs = 0;
  cpuUs = 0;
  netElapsedMs = 0;
  netCpuUs = 0;
  parent = parentCall;
  offsetMs = 0;
  linked = false;
  children.clear();
  params.clear();
  skipped_ = skipped;
  perfTarget_ = PerfTarget::Undecided;
  startWallMs_ = -1;
}

void CMTCallRecord::begin() {
  MOX_TRC_HOST(2, "%s - [StartTiming]\n", trcText(timingKey).c_str());
  startTick = parent == nullptr ? msTickWithWallClock(&startWallMs_) : msTick();
  PerfUpdate update = newUpdate();
  if (traceOn) {
    cpuStart = threadCpuMicros();
    update.incActive = !traceOnly;
  } else {
    const PerfMetricScope scope = settings_->scope;
    if (measuresCpu(scope)) cpuStart = threadCpuMicros();
    update.incActive = countsActive(scope) && !skipped_;
  }
  if (update.incActive) {
    perfTarget_ = settings_->metrics->updatePerfRecord(timingKey, update, perfTarget_, &perfMemo_);
  }
}

void CMTCallRecord::takeTimes(uint32_t now) {
  elapsedMs = static_cast<int32_t>(tickDiff(now, startTick));
  bool net = true;
  bool measureCpu = true;
  bool netCpu = true;
  if (!traceOn) {
    const PerfMetricScope scope = settings_->scope;
    net = measuresNetElapsed(scope);
    measureCpu = measuresCpu(scope);
    netCpu = measuresNetCpu(scope);
  }
  if (net) netElapsedMs += elapsedMs;
  if (measureCpu) {
    cpuUs = cpuSince(cpuStart);
    if (netCpu) netCpuUs = cpuUs >= 0 ? netCpuUs + cpuUs : -1;
  } else {
    cpuUs = -1;
    netCpuUs = -1;
  }
  if (net && parent != nullptr) {
    if (elapsedMs >= 0) parent->netElapsedMs -= elapsedMs;
    if (cpuUs >= 0) parent->netCpuUs -= cpuUs;
  }
}

PerfUpdate CMTCallRecord::newUpdate() const {
  PerfUpdate update;
  update.skipped = skipped_;
  return update;
}

bool CMTCallRecord::timesWanted() const {
  return !(skipped_ && static_cast<uint32_t>(elapsedMs) >= settings_->skipTimesBelowThreshold);
}

// The one update of an end or a termination with times: a traced call adds
// its times unless it is timed for the trace only; an untraced call adds them
// only when it was ended by its own name (atTop) and its times are wanted, and
// is merely counted when it was closed on the way.
void CMTCallRecord::sendToPerfRecord(bool atTop, bool terminated) {
  PerfUpdate update = newUpdate();
  update.end = terminated ? PerfUpdate::End::Terminated : PerfUpdate::End::Finished;
  if (traceOn) {
    if (traceOnly) return;
    update.addTimes = true;
  } else if (atTop) {
    if (!timesWanted()) return;
    update.addTimes = true;
  }
  if (update.addTimes) {
    update.elapsedMs = elapsedMs;
    update.cpuUs = cpuUs;
    update.netElapsedMs = netElapsedMs;
    update.netCpuUs = netCpuUs;
  }
  perfTarget_ = settings_->metrics->updatePerfRecord(timingKey, update, perfTarget_, &perfMemo_);
}

uint32_t CMTCallRecord::end(bool atTop) {
  MOX_TRC_HOST(2, "%s - [EndTiming] TimeStat:%s\n", trcText(timingKey).c_str(), yesNo(atTop));
  uint32_t now = msTick();
  takeTimes(now);
  sendToPerfRecord(atTop, false);
  status = Ended;
  return now;
}

int64_t CMTCallRecord::terminate(bool atTop, bool withTimes) {
  MOX_TRC_HOST(2, "%s - [TerminateTiming] TimeStat:%s\n", trcText(timingKey).c_str(), yesNo(atTop));
  if (!withTimes) {
    status = TerminatedWithoutTimes;
    PerfUpdate update = newUpdate();
    update.end = PerfUpdate::End::Terminated;
    perfTarget_ = settings_->metrics->updatePerfRecord(timingKey, update, perfTarget_, &perfMemo_);
    return -1;
  }
  uint32_t now = msTick();
  takeTimes(now);
  sendToPerfRecord(atTop, true);
  status = TerminatedWithTimes;
  return now;
}

std::u16string CMTCallRecord::startTime() const {
  if (parent != nullptr) return std::u16string();
  return trcFormatLocalTime(startWallMs_, settings_->startTimeWithMillis);
}
