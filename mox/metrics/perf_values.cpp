#include "mox/metrics/perf_values.h"

#include "common/wrapping.h"

namespace {

template <typename T>
void raiseMax(T& max, T value) {
  if (value > max) max = value;
}

// A negative minimum means none was seen yet; true when value is negative
// (so the minimum restarts from it).
template <typename T>
bool lowerMin(T& min, T value) {
  if (min < 0 || value < min) min = value;
  return value < 0;
}

template <typename T>
void foldMin(T& earlier, T later, bool restarted) {
  if (restarted) {
    earlier = later;
  } else {
    lowerMin(earlier, later);
  }
}

}  // namespace

RestartedMinima addTimes(PerfValues& v, const PerfUpdate& u) {
  v.sumElapsed = wrappingAdd(v.sumElapsed, u.elapsedMs);
  v.sumCpu = wrappingAdd(v.sumCpu, u.cpuUs);
  v.sumNetElapsed = wrappingAdd(v.sumNetElapsed, u.netElapsedMs);
  v.sumNetCpu = wrappingAdd(v.sumNetCpu, u.netCpuUs);
  raiseMax(v.maxElapsed, u.elapsedMs);
  raiseMax(v.maxCpu, u.cpuUs);
  raiseMax(v.maxNetElapsed, u.netElapsedMs);
  raiseMax(v.maxNetCpu, u.netCpuUs);
  RestartedMinima restarted = 0;
  if (lowerMin(v.minElapsed, u.elapsedMs)) restarted |= 1;
  if (lowerMin(v.minCpu, u.cpuUs)) restarted |= 2;
  if (lowerMin(v.minNetElapsed, u.netElapsedMs)) restarted |= 4;
  if (lowerMin(v.minNetCpu, u.netCpuUs)) restarted |= 8;
  ++v.count;
  return restarted;
}

void foldLater(PerfValues& e, const PerfValues& l, RestartedMinima restarted) {
  e.active += l.active;
  e.finished += l.finished;
  e.terminated += l.terminated;
  if (l.skipped) e.skipped = true;
  if (l.count == 0) return;  // no times: later's sums, maxima and minima are still the initial ones
  e.count += l.count;
  e.sumElapsed = wrappingAdd(e.sumElapsed, l.sumElapsed);
  e.sumCpu = wrappingAdd(e.sumCpu, l.sumCpu);
  e.sumNetElapsed = wrappingAdd(e.sumNetElapsed, l.sumNetElapsed);
  e.sumNetCpu = wrappingAdd(e.sumNetCpu, l.sumNetCpu);
  raiseMax(e.maxElapsed, l.maxElapsed);
  raiseMax(e.maxCpu, l.maxCpu);
  raiseMax(e.maxNetElapsed, l.maxNetElapsed);
  raiseMax(e.maxNetCpu, l.maxNetCpu);
  foldMin(e.minElapsed, l.minElapsed, (restarted & 1) != 0);
  foldMin(e.minCpu, l.minCpu, (restarted & 2) != 0);
  foldMin(e.minNetElapsed, l.minNetElapsed, (restarted & 4) != 0);
  foldMin(e.minNetCpu, l.minNetCpu, (restarted & 8) != 0);
}
