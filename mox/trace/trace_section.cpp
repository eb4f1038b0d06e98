#include "mox/trace/trace_section.h"

#include <utility>

#include "mox/agents/data_sending_agent.h"
#include "thr/thr_guards.h"

CMTTraceSection::CMTTraceSection(uint16_t number) : number_(number) { ThrRwLockInit(&lock_); }

CMTTraceSection::~CMTTraceSection() {
  if (lock_ != nullptr) ThrRwLockDelete(lock_);
}

void CMTTraceSection::add(std::u16string text) {
  ThrExclusiveGuard guard(lock_);
  traces_.push_back(std::move(text));
}

void CMTTraceSection::clear() {
  ThrExclusiveGuard guard(lock_);
  traces_.clear();
}

bool CMTTraceSection::isEmpty() const {
  ThrSharedGuard guard(lock_);
  return traces_.empty();
}

size_t CMTTraceSection::size() const {
  ThrSharedGuard guard(lock_);
  return traces_.size();
}

void CMTTraceSection::sendAll(CMTDataSendingAgent* agent) const {
  if (agent == nullptr) return;
  ThrSharedGuard guard(lock_);
  for (const std::u16string& text : traces_) agent->sendData(text);
}
