// The XML element of a call and its subtree in a transaction trace.
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/number_text.h"
#include "common/xml_escape.h"
#include "mox/context/call_record.h"
#include "mox/context/cpu_span.h"
#include "mox/context/trace_param.h"

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
    appendXmlEscaped(out, startTime());
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
  // exhaust the stack: each entry is a call and its next child to write.
  std::vector<std::pair<const CMTCallRecord*, size_t>> open;
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
