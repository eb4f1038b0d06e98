#include "stats.h"

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
  return "summary connections=" + std::to_string(connections) + " metrics=" + std::to_string(metrics) +
         " versions=" + std::to_string(versions) + " traces=" + std::to_string(traces) +
         " other=" + std::to_string(other) + " malformed=" + std::to_string(malformed) +
         " truncated=" + std::to_string(truncated) + " bytes=" + std::to_string(bytes);
}

}  // namespace moxcollect
