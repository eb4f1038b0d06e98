// The transaction-trace texts of a context: the full trace and the three
// error snapshots, each one line ending in a line feed.
#include <string>
#include <string_view>

#include "dptrc/dptrc.h"
#include "mox/config/configuration.h"
#include "mox/context/context.h"
#include "mox/context/context_manager.h"
#include "mox/context/trace_param.h"
#include "mox/trace/trace_data_manager.h"

namespace {

constexpr std::u16string_view kEventClose = u"</event>";
constexpr std::u16string_view kErrorSnapshot = u"<param name=\"Trace Type\" value=\"ErrorSnapshot\" />";
constexpr std::u16string_view kTooLarge = u"<param name=\"Method Call Error\" value=\"Too large trace size\" />";
constexpr std::u16string_view kMaxComponents =
    u"<param name=\"Method Call Error\" value=\"Max components threshold reached\" />";
constexpr std::u16string_view kZombie = u"<param name=\"Method Call Error\" value=\"Timeout to zombie\" />";
// Room for the passport, the error parameters and the line end beyond the
// running size estimate.
constexpr size_t kTraceReserveExtra = 512;

// A trace is built on its thread in this buffer, kept from one trace to the
// next so that building one allocates nothing once the buffer is large
// enough; one grown past kScratchKeptUnits by a huge trace is given back.
thread_local std::u16string traceScratch;
constexpr size_t kScratchKeptUnits = 64 * 1024;

bool endsWith(std::u16string_view text, std::u16string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

void CMTContext::assembleTrace(std::u16string& out, const TraceShape& shape, const TraceMoment& now) const {
  if (root == nullptr) return;
  const size_t from = out.size();
  out.reserve(from + traceSize + kTraceReserveExtra);
  root->appendEventXml(out, shape.withChildren, now);
  // The root element closes the text; the additions go just before its tag.
  if (!endsWith(out, kEventClose)) {
    MOX_TRC_ERROR("Bad transaction trace format encountered from the context object!\n");
    out.resize(from);
    return;
  }
  out.resize(out.size() - kEventClose.size());
  for (std::u16string_view error : shape.errors) out += error;  // empty views add nothing
  switch (shape.passport) {
    case PassportParam::WithGuid:
      // A passport beginning with "*" is completed by this unit of work's GUID.
      if (!passport.empty() && passport[0] == u'*') {
        appendTraceParam(out, u"client.header.VEL-PASSPORT", guid() + passport);
      } else {
        appendTraceParam(out, u"client.header.VEL-PASSPORT", passport);
      }
      break;
    case PassportParam::Plain: appendTraceParam(out, u"client.header.VEL-PASSPORT", passport); break;
    case PassportParam::WhenPresent:
      if (!passport.empty()) appendTraceParam(out, u"client.header.VEL-PASSPORT", passport);
      break;
  }
  for (const auto& [name, value] : contextInfo) appendTraceParam(out, name, value);
  out += kEventClose;
  out += u'\n';
}

CMTContext::TraceShape CMTContext::shapeOf(TraceKind kind) {
  switch (kind) {
    case TraceKind::TooLarge: return {false, {kErrorSnapshot, kTooLarge}, PassportParam::Plain};
    case TraceKind::MaxComponents: return {false, {kErrorSnapshot, kMaxComponents}, PassportParam::WhenPresent};
    case TraceKind::Full: break;
  }
  return {true, {}, PassportParam::WithGuid};
}

std::u16string CMTContext::buildText(const TraceShape& shape, const TraceMoment& now) const {
  std::u16string out;
  assembleTrace(out, shape, now);
  return out;
}

std::u16string CMTContext::buildTrace() const {
  return buildText(shapeOf(TraceKind::Full), TraceMoment::ofThisThread());
}

std::u16string CMTContext::buildTooLargeSnapshot() const {
  return buildText(shapeOf(TraceKind::TooLarge), TraceMoment::ofThisThread());
}

std::u16string CMTContext::buildMaxComponentsSnapshot() const {
  return buildText(shapeOf(TraceKind::MaxComponents), TraceMoment::ofThisThread());
}

std::u16string CMTContext::buildZombieTrace() const {
  // Built by the scan, on another thread than the calls': their running CPU
  // times cannot be read from here.
  const TraceMoment now = TraceMoment::ofOtherThread();
  if (traceSize > manager_->config().getTracesizeThreshold()) {
    return buildText({false, {kErrorSnapshot, kZombie, kTooLarge}, PassportParam::Plain}, now);
  }
  return buildText({true, {kErrorSnapshot, kZombie}, PassportParam::Plain}, now);
}

void CMTContext::queueTrace(TraceKind kind) const {
  // The store copies the text, so the buffer serves this thread's next
  // trace. An empty text is queued too, as the built one would be.
  std::u16string& text = traceScratch;
  text.clear();
  assembleTrace(text, shapeOf(kind), TraceMoment::ofThisThread());
  manager_->traces().addTrace(text);
  if (text.capacity() > kScratchKeptUnits) std::u16string().swap(text);
}
