// Information attached to a unit of work and to its calls, and what it adds
// to the trace size estimate (UTF-16 code units).
#include <cstdint>
#include <utility>

#include "mox/context/context.h"

namespace {

// Room one parameter element takes beyond its name and value.
constexpr uint64_t kTraceSizePerParam = 30;

uint64_t lengthDifference(size_t a, size_t b) { return a > b ? a - b : b - a; }

}  // namespace

void CMTContext::appendInfo(uint32_t recId, std::u16string_view name, std::u16string_view value, bool toList) {
  if (traceOn != TraceMode::On || recId == 0 || callStack_.empty() || callStack_.back()->recId != recId) return;
  CallParams& params = callStack_.back()->params;
  std::u16string* found = params.find(name);
  if (found == nullptr) {
    growTraceSize(name.size() + value.size() + kTraceSizePerParam);
    params.insert(name, value);
    return;
  }
  if (toList) {
    growTraceSize(value.size() + 1);
    found->append(1, u',').append(value);
    return;
  }
  growTraceSize(name.size() + value.size() + kTraceSizePerParam);
  found->assign(value);
}

void CMTContext::appendContextInfo(std::u16string name, std::u16string value) {
  auto found = contextInfo.find(name);
  if (found == contextInfo.end()) {
    growTraceSize(name.size() + value.size() + kTraceSizePerParam);
    contextInfo.emplace(std::move(name), std::move(value));
    return;
  }
  // The difference counts whichever way the length changed.
  growTraceSize(lengthDifference(value.size(), found->second.size()));
  found->second = std::move(value);
}
