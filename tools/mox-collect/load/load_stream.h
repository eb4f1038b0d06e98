// The byte stream of simulated library processes, line for line as the
// library writes it in its full form with CPU and net times measured
// (agent_type 2, perf_metric_scope 4): the version line once, then per
// interval each timing key's seven IntAverage lines and each resource's
// LongCounter line. Values are deterministic functions of (process, interval,
// key), so a reader can check what arrived.
#pragma once

#include <cstdint>
#include <string>

namespace moxload {

struct LoadShape {
  int processes = 200;
  int keys = 100;     // timing keys per process
  int resources = 1;  // resources per process
};

// Metric lines of one process in one interval (the version line not counted).
int64_t linesPerInterval(const LoadShape& shape);

// The version line that opens a process's stream.
void appendVersionLine(std::string& out, int process);

// One interval of one process: its timing keys, then its resources.
void appendInterval(std::string& out, const LoadShape& shape, int process, int interval);

// Finished calls of a key in one interval (so a reader can predict the sums).
int64_t finishedCalls(int key, int interval);

}  // namespace moxload
