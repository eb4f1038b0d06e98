// The XML element of a call and its subtree in a transaction trace.
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/number_text.h"
#include "common/xml_escape.h"
#include "dptrc/dptrc.h"
#include "mox/context/call_record.h"
#include "mox/context/cpu_span.h"
#include "mox/context/trace_param.h"

namespace {

thread_local std::vector<std::pair<const CMTCallRecord*, size_t>> openCallsScratch;

// Converting a second to local time costs more than the rest of a small
// trace, and start times within one second share their text up to the
// milliseconds: the thread keeps the text of the last second it converted.
struct LocalSecond {
  int64_t second = -1;
  std::u16string text;
  bool converted = false;  // false: the text is the error text, without milliseconds
};
thread_local LocalSecond lastSecond;

// The text startTime() gives for wallMs, appended.
void appendLocalTime(std::u16string& out, int64_t wallMs, bool withMs) {
  if (wallMs < 0) {
    out += trcFormatLocalTime(wallMs, withMs);
    return;
  }
  LocalSecond& cached = lastSecond;
  const int64_t second = wallMs / 1000;
  if (cached.second != second) {
    cached.text = trcFormatLocalTime(second * 1000, false);
    cached.converted = cached.text != trcFormatLocalTime(-1, false);
    cached.second = second;
  }
  out += cached.text;
  if (!withMs || !cached.converted) return;
  out += u'.';
  appendPaddedDecimal(out, wallMs % 1000, 3, u'0');
}

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

void CMTCallRecord::appendOpening(std::u16string& out, const TraceMoment& now) const {
  const int32_t duration = status == Running ? static_cast<int32_t>(tickDiff(now.tick(), startTick)) : elapsedMs;
  if (recId == 1) {
    out += u"<event resource=\"";
    appendXmlEscaped(out, timingKey);
    out += u"\" startTime=\"";
    // The start time is digits, spaces and punctuation: nothing to escape.
    if (parent == nullptr) appendLocalTime(out, startWallMs_, settings_->startTimeWithMillis);
  } else {
    out += u"<calledComponent resource=\"";
    appendXmlEscaped(out, timingKey);
    out += u"\" offset=\"";
    appendDecimal(out, static_cast<int32_t>(offsetMs));
  }
  out += u"\" duration=\"";
  appendDecimal(out, duration);
  out += u"\">";
}

void CMTCallRecord::appendClosing(std::u16string& out, const TraceMoment& now) const {
  // A running call whose start was not read on the CPU clock, or seen from
  // another thread, has no CPU time to show: -1 as for any time not measured.
  const int64_t cpu = status != Running ? cpuUs : cpuStart < 0 ? -1 : cpuSpan(now.threadCpuUs(), cpuStart);
  out += u"<param name=\"CPU Time (us)\" value=\"";
  appendDecimal(out, cpu);
  out += u"\" />";
  for (const auto& [name, value] : params) appendTraceParam(out, name, value);
  out += recId == 1 ? u"</event>" : u"</calledComponent>";
}

void CMTCallRecord::appendEventXml(std::u16string& out, bool withChildren, const TraceMoment& now) const {
  appendOpening(out, now);
  if (!withChildren || children.empty()) {
    appendClosing(out, now);
    return;
  }
  // Depth first without recursion, so a deeply nested unit of work cannot
  // exhaust the stack: each entry is a call and its next child to write. The
  // list is the thread's, kept from one trace to the next to spare its
  // allocations (nothing called during a walk starts another).
  std::vector<std::pair<const CMTCallRecord*, size_t>>& open = openCallsScratch;
  open.clear();
  open.emplace_back(this, 0);
  while (!open.empty()) {
    auto& [call, next] = open.back();
    if (next < call->children.size()) {
      const CMTCallRecord* child = call->children[next++];
      child->appendOpening(out, now);
      open.emplace_back(child, 0);
      continue;
    }
    call->appendClosing(out, now);
    open.pop_back();
  }
}

std::u16string CMTCallRecord::buildEventXml(bool withChildren) const {
  std::u16string out;
  appendEventXml(out, withChildren, TraceMoment::ofThisThread());
  return out;
}
