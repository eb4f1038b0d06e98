// What the trace and data jobs print with, gathered from the configuration
// and the registry's process identity, and the two jobs run in the caller's
// thread.
#pragma once

#include <string>

#include "mox/metrics/metric_format.h"

// prefix = system_name, then "|" + process name, "_" + instance string,
// "|" + instance prefix (each only when not empty); agentType = agent_type;
// scope = perf_metric_scope; isSkipped = the registry's skip test.
MetricFormat currentMetricFormat();
// As the metric prefix, without the instance prefix.
std::u16string currentVersionPrefix();
// The trace job, then the data job, in the calling thread (MOX_outputMetricData
// and the final flush at exit). Returns at once for a job already running.
void runTraceAndDataJobs();
