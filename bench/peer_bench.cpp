// The peer's side of the table: prometheus-cpp used as a typical host would
// time a call, per call looking up the labelled histogram of (component,
// method) in its family and observing the seconds between two clock reads.
#include <benchmark/benchmark.h>
#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench_cases.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Peer {
  std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();
  prometheus::Family<prometheus::Histogram>& calls =
      prometheus::BuildHistogram().Name("call_seconds").Help("Call time").Register(*registry);
  prometheus::Family<prometheus::Gauge>& resources =
      prometheus::BuildGauge().Name("resource").Help("Resource level").Register(*registry);
  // The client's customary default buckets.
  const prometheus::Histogram::BucketBoundaries buckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
};

Peer& peer() {
  static Peer instance;
  return instance;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void observe(const std::string& component, const std::string& method, Clock::time_point start) {
  Peer& p = peer();
  p.calls.Add({{"component", component}, {"method", method}}, p.buckets).Observe(secondsSince(start));
}

void BM_PeerFlat(benchmark::State& state) {
  for (auto _ : state) observe("Comp", "method", Clock::now());
}
BENCHMARK(BM_PeerFlat)->Name("flat/peer");

void BM_PeerRoundRobin(benchmark::State& state) {
  const std::vector<std::string> methods = roundRobinMethods();
  size_t next = 0;
  for (auto _ : state) {
    observe("Comp", methods[next], Clock::now());
    next = next + 1 == methods.size() ? 0 : next + 1;
  }
}
BENCHMARK(BM_PeerRoundRobin)->Name("keys100/peer");

void BM_PeerNested(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point a = Clock::now();
    const Clock::time_point b = Clock::now();
    const Clock::time_point c = Clock::now();
    observe("Db", "select", c);
    observe("Pricing", "quote", b);
    observe("Order", "create", a);
  }
}
BENCHMARK(BM_PeerNested)->Name("nested/peer");

void BM_PeerSharedKey(benchmark::State& state) {
  for (auto _ : state) observe("Shared", "method", Clock::now());
}
BENCHMARK(BM_PeerSharedKey)->Name("shared/peer")->Threads(1)->Threads(2)->UseRealTime();

void BM_PeerDistinctKeys(benchmark::State& state) {
  const std::string component = "Comp" + std::string(1, static_cast<char>('A' + state.thread_index()));
  for (auto _ : state) observe(component, "method", Clock::now());
}
BENCHMARK(BM_PeerDistinctKeys)->Name("distinct/peer")->Threads(1)->Threads(2)->UseRealTime();

void BM_PeerResourceIncrease(benchmark::State& state) {
  Peer& p = peer();
  for (auto _ : state) p.resources.Add({{"resource", "Pool"}}).Increment(1);
}
BENCHMARK(BM_PeerResourceIncrease)->Name("resource/peer");

}  // namespace

void peerFlatPair() { observe("Comp", "method", Clock::now()); }
