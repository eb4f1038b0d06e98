// The transaction-trace texts of a context: the full trace and the three
// error snapshots, each one line ending in a line feed.
#include <string_view>
#include <utility>

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

bool endsWith(std::u16string_view text, std::u16string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

std::u16string CMTContext::assembleTrace(const TraceShape& shape, const TraceMoment& now) const {
  std::u16string out;
  if (root == nullptr) return out;
  out.reserve(traceSize + kTraceReserveExtra);
  root->appendEventXml(out, shape.withChildren, now);
  // The root element closes the text; the additions go just before its tag.
  if (!endsWith(out, kEventClose)) {
    MOX_TRC_ERROR("Bad transaction trace format encountered from the context object!\n");
    return std::u16string();
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
  return out;
}

std::u16string CMTContext::buildTrace() const {
  return assembleTrace({true, {}, PassportParam::WithGuid}, TraceMoment::ofThisThread());
}

std::u16string CMTContext::buildTooLargeSnapshot() const {
  return assembleTrace({false, {kErrorSnapshot, kTooLarge}, PassportParam::Plain}, TraceMoment::ofThisThread());
}

std::u16string CMTContext::buildMaxComponentsSnapshot() const {
  return assembleTrace({false, {kErrorSnapshot, kMaxComponents}, PassportParam::WhenPresent},
                       TraceMoment::ofThisThread());
}

std::u16string CMTContext::buildZombieTrace() const {
  // Built by the scan, on another thread than the calls': their running CPU
  // times cannot be read from here.
  const TraceMoment now = TraceMoment::ofOtherThread();
  if (traceSize > manager_->config().getTracesizeThreshold()) {
    return assembleTrace({false, {kErrorSnapshot, kZombie, kTooLarge}, PassportParam::Plain}, now);
  }
  return assembleTrace({true, {kErrorSnapshot, kZombie}, PassportParam::Plain}, now);
}

void CMTContext::queueTrace(std::u16string text) const { manager_->traces().addTrace(std::move(text)); }
