// perf_metric_scope: which times a timed call measures and which average
// lines its metric record prints. The value is a configured 16-bit number;
// values above 5 are valid and behave like kCpu.
#pragma once

#include <cstdint>

enum class PerfMetricScope : uint16_t {
  kElapsed = 0,           // elapsed times only
  kElapsedAndActive = 1,  // elapsed times, and the Active Counter line
  kNetElapsed = 2,        // also net elapsed times (without the children)
  kCpu = 3,               // also CPU times
  kNetCpu = 4,            // CPU, net elapsed and net CPU times
  kCpuAndWatermarks = 5,  // CPU times; the plain metric form adds High Watermark lines
};

constexpr uint16_t scopeNumber(PerfMetricScope scope) { return static_cast<uint16_t>(scope); }

// Running timings are counted (the Active Counter line) at every scope but 0.
constexpr bool countsActive(PerfMetricScope scope) { return scope != PerfMetricScope::kElapsed; }

// The thread CPU clock is read for the call.
constexpr bool measuresCpu(PerfMetricScope scope) { return scopeNumber(scope) >= scopeNumber(PerfMetricScope::kCpu); }

// Children's elapsed times are subtracted into net elapsed times.
constexpr bool measuresNetElapsed(PerfMetricScope scope) {
  return scope == PerfMetricScope::kNetElapsed || scope == PerfMetricScope::kNetCpu;
}

// Children's CPU times are subtracted into net CPU times.
constexpr bool measuresNetCpu(PerfMetricScope scope) { return scope == PerfMetricScope::kNetCpu; }

// The plain metric form ends a record with its High Watermark lines.
constexpr bool printsWatermarks(PerfMetricScope scope) { return scope == PerfMetricScope::kCpuAndWatermarks; }
