#include "mox/metrics/perf_record.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "common/wrapping.h"

namespace {

template <typename T>
void raiseMax(T& max, T value) {
  if (value > max) max = value;
}

// A negative minimum means none was seen yet.
template <typename T>
void lowerMin(T& min, T value) {
  if (min < 0 || value < min) min = value;
}

}  // namespace

CPerfRecord::CPerfRecord(std::u16string key, uint32_t active) : key_(std::move(key)) { v_.active = active; }

void CPerfRecord::apply(const PerfUpdate& update) {
  ThrSpinGuard hold(lock_);
  if (update.skipped) v_.skipped = true;
  if (update.incActive) incActiveLocked();
  if (update.addTimes) addTimesLocked(update.elapsedMs, update.cpuUs, update.netElapsedMs, update.netCpuUs);
  if (update.end == PerfUpdate::End::Finished) endLocked(v_.finished);
  if (update.end == PerfUpdate::End::Terminated) endLocked(v_.terminated);
}

void CPerfRecord::carryIn(uint32_t running, bool skipped) {
  ThrSpinGuard hold(lock_);
  if (skipped) v_.skipped = true;
  const uint32_t matched = std::min(running, unmatchedEnds_);
  unmatchedEnds_ -= matched;
  v_.active += running - matched;
}

uint32_t CPerfRecord::active() const {
  ThrSpinGuard hold(lock_);
  return v_.active;
}

PerfValues CPerfRecord::snapshot() const {
  ThrSpinGuard hold(lock_);
  return v_;
}

void CPerfRecord::endLocked(uint32_t& endCounter) {
  if (v_.active > 0) {
    --v_.active;
  } else {
    ++unmatchedEnds_;
  }
  ++endCounter;
}

void CPerfRecord::addTimesLocked(int32_t elapsedMs, int64_t cpuUs, int32_t netElapsedMs, int64_t netCpuUs) {
  v_.sumElapsed = wrappingAdd(v_.sumElapsed, elapsedMs);
  v_.sumCpu = wrappingAdd(v_.sumCpu, cpuUs);
  v_.sumNetElapsed = wrappingAdd(v_.sumNetElapsed, netElapsedMs);
  v_.sumNetCpu = wrappingAdd(v_.sumNetCpu, netCpuUs);
  raiseMax(v_.maxElapsed, elapsedMs);
  raiseMax(v_.maxCpu, cpuUs);
  raiseMax(v_.maxNetElapsed, netElapsedMs);
  raiseMax(v_.maxNetCpu, netCpuUs);
  lowerMin(v_.minElapsed, elapsedMs);
  lowerMin(v_.minCpu, cpuUs);
  lowerMin(v_.minNetElapsed, netElapsedMs);
  lowerMin(v_.minNetCpu, netCpuUs);
  ++v_.count;
}
