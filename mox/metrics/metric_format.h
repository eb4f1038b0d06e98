// What the metric text builders print, gathered by the data dispatch job so
// that the builders need not know the process identity or the configuration.
#pragma once

#include <cstdint>
#include <string>

#include "mox/config/perf_metric_scope.h"

struct MetricFormat {
  // Metric name prefix: system name, then "|" process name, "_" instance
  // number, "|" instance prefix (empty parts left out).
  std::u16string prefix;
  // `agent_type`: 0 selects the plain form, anything else the full form.
  uint16_t agentType = 2;
  // `perf_metric_scope`: which lines of a record are printed.
  PerfMetricScope scope = PerfMetricScope::kElapsed;
};
