// The floor of the table: what any timing must do at least. A pair is two
// monotonic clock reads and one relaxed atomic update of its key's total; an
// untimed call is the level check, one load and one compare, in a function of
// another shared library (floor_export/), called as an exported function is.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "bench_cases.h"

extern "C" bool moxBenchFloorLevelIsTimed(uint16_t level);

namespace {

using Clock = std::chrono::steady_clock;

// A key's total on a cache line of its own, as distinct keys would be.
struct alignas(64) Total {
  std::atomic<int64_t> nanoseconds{0};
};

std::array<Total, kRoundRobinKeys> totals;
Total nestedTotals[kNestedPairs];
Total sharedTotal;
Total distinctTotals[2];

void addSince(Total& total, Clock::time_point start) {
  total.nanoseconds.fetch_add((Clock::now() - start).count(), std::memory_order_relaxed);
}

void BM_FloorUntimed(benchmark::State& state) {
  uint16_t level = 50;
  for (auto _ : state) {
    benchmark::DoNotOptimize(level);
    benchmark::DoNotOptimize(moxBenchFloorLevelIsTimed(level));
  }
}
BENCHMARK(BM_FloorUntimed)->Name("untimed/floor");

void BM_FloorFlat(benchmark::State& state) {
  for (auto _ : state) addSince(totals[0], Clock::now());
}
BENCHMARK(BM_FloorFlat)->Name("flat/floor");

void BM_FloorRoundRobin(benchmark::State& state) {
  size_t next = 0;
  for (auto _ : state) {
    addSince(totals[next], Clock::now());
    next = next + 1 == totals.size() ? 0 : next + 1;
  }
}
BENCHMARK(BM_FloorRoundRobin)->Name("keys100/floor");

void BM_FloorNested(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point a = Clock::now();
    const Clock::time_point b = Clock::now();
    const Clock::time_point c = Clock::now();
    addSince(nestedTotals[2], c);
    addSince(nestedTotals[1], b);
    addSince(nestedTotals[0], a);
  }
}
BENCHMARK(BM_FloorNested)->Name("nested/floor");

void BM_FloorSharedKey(benchmark::State& state) {
  for (auto _ : state) addSince(sharedTotal, Clock::now());
}
BENCHMARK(BM_FloorSharedKey)->Name("shared/floor")->Threads(1)->Threads(2)->UseRealTime();

void BM_FloorDistinctKeys(benchmark::State& state) {
  Total& mine = distinctTotals[state.thread_index()];
  for (auto _ : state) addSince(mine, Clock::now());
}
BENCHMARK(BM_FloorDistinctKeys)->Name("distinct/floor")->Threads(1)->Threads(2)->UseRealTime();

void BM_FloorResourceIncrease(benchmark::State& state) {
  for (auto _ : state) sharedTotal.nanoseconds.fetch_add(1, std::memory_order_relaxed);
}
BENCHMARK(BM_FloorResourceIncrease)->Name("resource/floor");

}  // namespace
