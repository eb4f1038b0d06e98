#include "stats.h"

#include <utility>

namespace moxcollect {

void Stats::count(RecordKind kind) {
  switch (kind) {
    case RecordKind::Metric: ++metrics; break;
    case RecordKind::Version: ++versions; break;
    case RecordKind::Trace: ++traces; break;
    case RecordKind::Other: ++other; break;
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
