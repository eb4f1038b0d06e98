// The library's side of the table: the timing hot path through the exported
// functions.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_cases.h"
#include "bench_library.h"
#include "mox.h"

namespace {

// Level 50 is at or above both thresholds (10): rejected before any look-up,
// and the end of timing id 0 does nothing.
void BM_MoxUntimed(benchmark::State& state) {
  useLibrary(LibraryMode::Plain);
  for (auto _ : state) MOX_endTiming(MOX_startTiming(u"Comp", u"method", 50));
}
BENCHMARK(BM_MoxUntimed)->Name("untimed/mox");

// One call per unit of work: the context is created by the start and removed by the end.
void BM_MoxFlat(benchmark::State& state) {
  useLibrary(LibraryMode::Plain);
  for (auto _ : state) MOX_endTiming(MOX_startTiming(u"Comp", u"method", 1));
}
BENCHMARK(BM_MoxFlat)->Name("flat/mox");

void BM_MoxRoundRobin(benchmark::State& state) {
  useLibrary(LibraryMode::Plain);
  const std::vector<std::u16string> methods = roundRobinMethods16();
  size_t next = 0;
  for (auto _ : state) {
    MOX_endTiming(MOX_startTiming(u"Comp", methods[next].c_str(), 1));
    next = next + 1 == methods.size() ? 0 : next + 1;
  }
}
BENCHMARK(BM_MoxRoundRobin)->Name("keys100/mox");

void BM_MoxNested(benchmark::State& state) {
  useLibrary(LibraryMode::Plain);
  for (auto _ : state) {
    const uint32_t a = MOX_startTiming(u"Order", u"create", 1);
    const uint32_t b = MOX_startTiming(u"Pricing", u"quote", 1);
    const uint32_t c = MOX_startTiming(u"Db", u"select", 1);
    MOX_endTiming(c);
    MOX_endTiming(b);
    MOX_endTiming(a);
  }
}
BENCHMARK(BM_MoxNested)->Name("nested/mox");

// Every thread times the same (component, method): one shared performance record.
void BM_MoxSharedKey(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  for (auto _ : state) MOX_endTiming(MOX_startTiming(u"Shared", u"method", 1));
}
BENCHMARK(BM_MoxSharedKey)
    ->Name("shared/mox")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Repetitions(kSharedKeyRepetitions);

// Every thread times its own (component, method).
void BM_MoxDistinctKeys(benchmark::State& state) {
  if (state.thread_index() == 0) useLibrary(LibraryMode::Plain);
  const std::u16string component = u"Comp" + std::u16string(1, static_cast<char16_t>(u'A' + state.thread_index()));
  for (auto _ : state) MOX_endTiming(MOX_startTiming(component.c_str(), u"method", 1));
}
BENCHMARK(BM_MoxDistinctKeys)->Name("distinct/mox")->Threads(1)->Threads(2)->UseRealTime();

void BM_MoxResourceIncrease(benchmark::State& state) {
  useLibrary(LibraryMode::Plain);
  MOX_initializeResource(u"Pool", 0, 1);
  for (auto _ : state) MOX_increaseResource(u"Pool", 1);
}
BENCHMARK(BM_MoxResourceIncrease)->Name("resource/mox");

}  // namespace
