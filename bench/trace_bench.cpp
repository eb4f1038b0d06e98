// A traced unit of work, measured through the exported functions, the
// sending of its trace, and the thread CPU clock that a traced call reads at
// its start and at its end.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>

#include "bench_library.h"
#include "mox.h"

namespace {

// Traces queued between two drains (paused, not measured).
constexpr uint32_t kUnitsPerDrain = 4096;

int64_t readThreadCpuClock() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<int64_t>(used.tv_sec) * 1000000000 + used.tv_nsec;
}

// One call with its two appends, opened inside the current innermost call.
uint32_t startWithInfo(const mox_char* component, const mox_char* method, const mox_char* value) {
  const uint32_t id = MOX_startTiming(component, method, 1);
  MOX_appendParameterInfo(id, u"id", value);
  MOX_appendReturnInfo(id, u"ok");
  return id;
}

// Order|create > Pricing|quote > Db|select, two appends each; the end of the
// outer call builds the unit of work's trace and queues it.
void tracedUnit() {
  const uint32_t a = startWithInfo(u"Order", u"create", u"4711");
  const uint32_t b = startWithInfo(u"Pricing", u"quote", u"EUR");
  const uint32_t c = startWithInfo(u"Db", u"select", u"orders");
  MOX_endTiming(c);
  MOX_endTiming(b);
  MOX_endTiming(a);
}

void BM_TracedUnitOfWork(benchmark::State& state) {
  // The interleaved table restarts the library for each repetition of this
  // case; a long-running host's trace store holds the blocks a round of
  // traces fills. One round before the loop (not measured) fills them, so
  // the loop measures the steady state, not the first touch of fresh memory.
  if (useLibrary(LibraryMode::Traced)) {
    for (uint32_t i = 0; i < kUnitsPerDrain; ++i) tracedUnit();
    drainTraces();
  }
  uint32_t queued = 0;
  for (auto _ : state) {
    tracedUnit();
    if (++queued == kUnitsPerDrain) {
      state.PauseTiming();
      drainTraces();
      queued = 0;
      state.ResumeTiming();
    }
  }
  drainTraces();  // after the loop: not measured
}
BENCHMARK(BM_TracedUnitOfWork)->Name("traced/mox");

// The hand-over of queued traces and their writing by the file agent, per
// trace: what the trace job costs on its thread (here the caller's, through
// MOX_outputMetricData). The units are queued with the timing paused.
void BM_TraceSending(benchmark::State& state) {
  constexpr uint32_t kUnitsPerSend = 256;
  if (useLibrary(LibraryMode::Traced)) {
    for (uint32_t i = 0; i < kUnitsPerDrain; ++i) tracedUnit();
    drainTraces();
  }
  for (auto _ : state) {
    state.PauseTiming();
    for (uint32_t i = 0; i < kUnitsPerSend; ++i) tracedUnit();
    state.ResumeTiming();
    drainTraces();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kUnitsPerSend);
}
BENCHMARK(BM_TraceSending)->Name("traced_send/mox");

// The clock itself, as the library reads it.
void BM_ThreadCpuClockRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(readThreadCpuClock());
}
BENCHMARK(BM_ThreadCpuClockRead)->Name("cpu_clock/floor");

}  // namespace
