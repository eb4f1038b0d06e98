#include "stats.h"

#include <utility>

namespace moxcollect {

namespace {

// Only the loop thread counts records: a plain load and store, not a locked
// read-modify-write per record, and readers still see whole values.
void increment(std::atomic<uint64_t>& counter) {
  counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

}  // namespace

void Stats::count(RecordKind kind) {
  switch (kind) {
    case RecordKind::Metric: increment(metrics); break;
    case RecordKind::Version: increment(versions); break;
    case RecordKind::Trace: increment(traces); break;
    case RecordKind::Other: increment(other); break;
  }
}

std::string Stats::summary() const {
  const std::pair<const char*, const std::atomic<uint64_t>*> fields[] = {
      {"connections", &connections},
      {"metrics", &metrics},
      {"versions", &versions},
      {"traces", &traces},
      {"other", &other},
      {"malformed", &malformed},
      {"truncated", &truncated},
      {"bytes", &bytes},
      {"idle_closed", &idleClosed},
      {"evicted", &evicted},
      {"refused", &refused},
      {"over_budget", &overBudget},
      {"sink_dropped", &sinkDropped},
      {"top_dropped", &topDropped},
      {"file_overflow", &fileOverflow},
      {"prometheus_malformed", &prometheusMalformed},
      {"prometheus_refused", &prometheusRefused},
  };
  std::string line = "summary";
  for (const auto& [name, value] : fields) line += std::string(" ") + name + "=" + std::to_string(value->load());
  return line;
}

}  // namespace moxcollect
