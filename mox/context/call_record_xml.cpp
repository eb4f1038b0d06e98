// The trace record of a call and its subtree (trace_record.h), and its XML
// element made from it.
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "mox/context/call_record.h"
#include "mox/context/cpu_span.h"
#include "mox/trace/trace_record.h"
#include "port/thread_owned.h"

namespace {

using OpenCallsScratch = ThreadOwned<struct OpenCallsScratchTag, std::vector<std::pair<const CMTCallRecord*, size_t>>>;

}  // namespace

uint32_t TraceMoment::tick() const {
  if (!tickRead_) {
    tick_ = msTick();
    tickRead_ = true;
  }
  return tick_;
}

int64_t TraceMoment::threadCpuUs() const {
  if (ownThread_ && !cpuRead_) {
    cpuUs_ = threadCpuMicros();
    cpuRead_ = true;
  }
  return cpuUs_;
}

void CMTCallRecord::recordOpening(TraceRecordWriter& out, const TraceMoment& now) const {
  const int32_t duration = status == Running ? static_cast<int32_t>(tickDiff(now.tick(), startTick)) : elapsedMs;
  if (recId == 1) {
    out.event(timingKey, parent == nullptr, startWallMs_, settings_->startTimeWithMillis, duration);
  } else {
    out.calledComponent(timingKey, static_cast<int32_t>(offsetMs), duration);
  }
}

void CMTCallRecord::recordClosing(TraceRecordWriter& out, const TraceMoment& now) const {
  // A running call whose start was not read on the CPU clock, or seen from
  // another thread, has no CPU time to show: -1 as for any time not measured.
  const int64_t cpu = status != Running ? cpuUs : cpuStart < 0 ? -1 : cpuSpan(now.threadCpuUs(), cpuStart);
  out.cpuTime(cpu);
  for (const auto& [name, value] : params) out.param(name, value);
  if (recId == 1) {
    out.endEvent();
  } else {
    out.endCalledComponent();
  }
}

void CMTCallRecord::appendTraceRecord(TraceRecordWriter& out, bool withChildren, const TraceMoment& now) const {
  recordOpening(out, now);
  if (!withChildren || children.empty()) {
    recordClosing(out, now);
    return;
  }
  // Depth first without recursion, so a deeply nested unit of work cannot
  // exhaust the stack: each entry is a call and its next child to write. The
  // list is the thread's, kept from one trace to the next to spare its
  // allocations (nothing called during a walk starts another).
  std::vector<std::pair<const CMTCallRecord*, size_t>>& open = OpenCallsScratch::get();
  open.clear();
  open.emplace_back(this, 0);
  while (!open.empty()) {
    auto& [call, next] = open.back();
    if (next < call->children.size()) {
      const CMTCallRecord* child = call->children[next++];
      child->recordOpening(out, now);
      open.emplace_back(child, 0);
      continue;
    }
    call->recordClosing(out, now);
    open.pop_back();
  }
}

std::u16string CMTCallRecord::buildEventXml(bool withChildren) const {
  std::u16string record;
  TraceRecordWriter writer(record);
  appendTraceRecord(writer, withChildren, TraceMoment::ofThisThread());
  std::u16string out;
  formatTraceRecord(record, out);
  return out;
}
