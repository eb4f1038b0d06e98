#include "mox/trace/trace_section.h"

#include "thr/thr_guards.h"

CMTTraceSection::CMTTraceSection(uint16_t number) : number_(number) { ThrRwLockInit(&lock_); }

CMTTraceSection::~CMTTraceSection() {
  if (lock_ != nullptr) ThrRwLockDelete(lock_);
}

void CMTTraceSection::add(std::u16string_view head, std::u16string_view body) {
  ThrExclusiveGuard guard(lock_);
  traces_.add(head, body);
}

void CMTTraceSection::clear() {
  ThrExclusiveGuard guard(lock_);
  traces_.clear();
}

std::vector<TraceTextArena::Block> CMTTraceSection::releaseBlocks() {
  ThrExclusiveGuard guard(lock_);
  return traces_.releaseBlocks();
}

void CMTTraceSection::adoptBlocks(std::vector<TraceTextArena::Block>&& spare) {
  ThrExclusiveGuard guard(lock_);
  traces_.adoptBlocks(std::move(spare));
}

bool CMTTraceSection::isEmpty() const {
  ThrSharedGuard guard(lock_);
  return traces_.texts().empty();
}

size_t CMTTraceSection::size() const {
  ThrSharedGuard guard(lock_);
  return traces_.texts().size();
}

void CMTTraceSection::handOver(const std::function<void(const TraceTexts&)>& take) const {
  ThrSharedGuard guard(lock_);
  take(traces_.texts());
}
