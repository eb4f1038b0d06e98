#include "mox/metrics/resource_record.h"

#include <utility>

#include "common/wrapping.h"
#include "thr/thr_guards.h"

CResourceRecord::CResourceRecord(std::u16string name) : name_(std::move(name)) {
  if (ThrRwLockInit(&kpiLock_) != THR_OK) kpiLock_ = nullptr;
}

CResourceRecord::~CResourceRecord() {
  if (kpiLock_ != nullptr) ThrRwLockDelete(kpiLock_);
}

void CResourceRecord::initialize(int64_t value, int16_t flag) {
  ThrSpinGuard hold(lock_);
  v_.fullCounter = flag == 0;
  v_.current = value;
  if (v_.firstValue == 0) {
    v_.firstValue = v_.high = v_.low = value;
  } else {
    if (value > v_.high) v_.high = value;
    if (value < v_.low) v_.low = value;
  }
  ++v_.count;
  v_.reported = true;
}

void CResourceRecord::increase(int64_t delta) {
  ThrSpinGuard hold(lock_);
  v_.current = wrappingAdd(v_.current, delta);
  if (v_.current > v_.high) v_.high = v_.current;
  v_.reported = true;
  if (v_.count == 0) v_.count = 1;
}

void CResourceRecord::decrease(int64_t delta) {
  ThrSpinGuard hold(lock_);
  v_.current = wrappingSub(v_.current, delta);
  if (v_.current < v_.low) v_.low = v_.current;
  v_.reported = true;
  if (v_.count == 0) v_.count = 1;
}

void CResourceRecord::report(int64_t current, int64_t high, int64_t low, uint32_t count, int16_t flag) {
  ThrSpinGuard hold(lock_);
  v_.fullCounter = flag == 0;
  v_.current = current;
  if (v_.firstValue == 0) {
    v_.firstValue = current;
    v_.high = high;
    v_.low = low;
  } else {
    if (high > v_.high) v_.high = high;
    if (low < v_.low) v_.low = low;
  }
  v_.count += count;
  v_.reported = true;
}

void CResourceRecord::setKpi(const std::u16string& kpiName, int64_t value) {
  if (kpiLock_ == nullptr) return;
  ThrExclusiveGuard hold(kpiLock_);
  kpis_[kpiName] = value;
}

// This record is not shared yet: its values are set without its lock.
void CResourceRecord::carryFrom(const CResourceRecord& ended) NO_THREAD_SAFETY_ANALYSIS {
  const ResourceValues now = ended.snapshot();
  v_.fullCounter = now.fullCounter;
  v_.firstValue = now.firstValue;
  v_.current = v_.high = v_.low = now.current;
}

ResourceValues CResourceRecord::snapshot() const {
  ThrSpinGuard hold(lock_);
  return v_;
}

KpiMap CResourceRecord::kpis() const {
  if (kpiLock_ == nullptr) return KpiMap();
  ThrSharedGuard hold(kpiLock_);
  return kpis_;
}
