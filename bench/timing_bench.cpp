// The timing hot path, measured through the exported functions.
//
//   ./build/bench/mox_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_library.h"
#include "mox.h"

namespace {

// Level 50 is at or above both thresholds (10): rejected before any look-up.
void BM_UntimedRejection(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  for (auto _ : state) benchmark::DoNotOptimize(MOX_startTiming(u"Comp", u"method", 50));
}
BENCHMARK(BM_UntimedRejection);

// One call per unit of work: the context is created by the start and removed by the end.
void BM_FlatPair(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  for (auto _ : state) MOX_endTiming(MOX_startTiming(u"Comp", u"method", 1));
}
BENCHMARK(BM_FlatPair);

// Three nested calls in one unit of work; the time per pair is a third of the iteration.
void BM_ThreeNestedPairs(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  for (auto _ : state) {
    const uint32_t a = MOX_startTiming(u"Order", u"create", 1);
    const uint32_t b = MOX_startTiming(u"Pricing", u"quote", 1);
    const uint32_t c = MOX_startTiming(u"Db", u"select", 1);
    MOX_endTiming(c);
    MOX_endTiming(b);
    MOX_endTiming(a);
  }
  state.counters["ns_per_pair"] = benchmark::Counter(static_cast<double>(state.iterations()) * 3,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ThreeNestedPairs);

// Every thread times the same (component, method): one shared performance record.
void BM_FlatPairSharedKey(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  for (auto _ : state) MOX_endTiming(MOX_startTiming(u"Shared", u"method", 1));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FlatPairSharedKey)->Threads(1)->Threads(2)->UseRealTime();

// Every thread times its own (component, method).
void BM_FlatPairDistinctKeys(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  const std::u16string component = u"Comp" + std::u16string(1, static_cast<char16_t>(u'A' + state.thread_index()));
  for (auto _ : state) MOX_endTiming(MOX_startTiming(component.c_str(), u"method", 1));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FlatPairDistinctKeys)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  endLibrary();
  return 0;
}
