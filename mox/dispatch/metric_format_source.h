// What the trace and data jobs print with, gathered from the configuration
// and the process identity.
#pragma once

#include <string>

#include "mox/config/configuration.h"
#include "mox/config/process_identity.h"
#include "mox/metrics/metric_format.h"

// prefix = the identity's metric prefix under system_name; agentType =
// agent_type; scope = perf_metric_scope.
MetricFormat metricFormat(const CConfiguration& cfg, const ProcessIdentity& identity);
// The identity's version prefix under system_name.
std::u16string versionPrefix(const CConfiguration& cfg, const ProcessIdentity& identity);
