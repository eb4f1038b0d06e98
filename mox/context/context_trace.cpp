// The transaction-trace texts of a context: the full trace and the three
// error snapshots, each one line ending in a line feed. The host thread
// leaves a trace as a record (trace_record.h); its text is made from it.
#include <string>
#include <string_view>

#include "dptrc/dptrc.h"
#include "mox/config/configuration.h"
#include "mox/context/context.h"
#include "mox/context/context_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "mox/trace/trace_record.h"
#include "port/thread_owned.h"

namespace {

constexpr std::u16string_view kErrorSnapshot = u"<param name=\"Trace Type\" value=\"ErrorSnapshot\" />";
constexpr std::u16string_view kTooLarge = u"<param name=\"Method Call Error\" value=\"Too large trace size\" />";
constexpr std::u16string_view kMaxComponents =
    u"<param name=\"Method Call Error\" value=\"Max components threshold reached\" />";
constexpr std::u16string_view kZombie = u"<param name=\"Method Call Error\" value=\"Timeout to zombie\" />";
constexpr std::u16string_view kPassportName = u"client.header.VEL-PASSPORT";

// A trace's record is made on its thread in this buffer, kept from one trace
// to the next so that making one allocates nothing once the buffer is large
// enough; one grown past kScratchKeptUnits by a huge trace is given back.
using RecordScratch = ThreadOwned<struct RecordScratchTag, std::u16string>;
constexpr size_t kScratchKeptUnits = 64 * 1024;

}  // namespace

void CMTContext::recordTrace(std::u16string& out, const TraceShape& shape, const TraceMoment& now) const {
  if (root == nullptr) return;
  // Only the first call of a context is an event element, which the
  // additions below go into; a tree under another call is no trace.
  if (root->recId != 1) {
    MOX_TRC_ERROR("Bad transaction trace format encountered from the context object!\n");
    return;
  }
  TraceRecordWriter record(out);
  root->appendTraceRecord(record, shape.withChildren, now);
  // The root's closing tag goes after the additions.
  out.resize(record.lastItemAt());
  for (std::u16string_view error : shape.errors) {
    if (!error.empty()) record.text(error);
  }
  switch (shape.passport) {
    case PassportParam::WithGuid:
      // A passport beginning with "*" is completed by this unit of work's GUID.
      if (!passport.empty() && passport[0] == u'*') {
        record.param(kPassportName, guid() + passport);
      } else {
        record.param(kPassportName, passport);
      }
      break;
    case PassportParam::Plain: record.param(kPassportName, passport); break;
    case PassportParam::WhenPresent:
      if (!passport.empty()) record.param(kPassportName, passport);
      break;
  }
  for (const auto& [name, value] : contextInfo) record.param(name, value);
  record.endEventLine();
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
  std::u16string record;
  recordTrace(record, shape, now);
  std::u16string out;
  out.reserve(traceSize);
  formatTraceRecord(record, out);
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
  // The store copies the record, so the buffer serves this thread's next
  // trace. An empty record is queued too, as the empty text would be.
  std::u16string& record = RecordScratch::get();
  record.clear();
  recordTrace(record, shapeOf(kind), TraceMoment::ofThisThread());
  manager_->traces().addRecord(record);
  if (record.capacity() > kScratchKeptUnits) std::u16string().swap(record);
}
