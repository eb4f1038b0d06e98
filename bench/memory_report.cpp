#include "memory_report.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "bench_cases.h"
#include "bench_library.h"
#include "mox.h"

namespace {

// Enough iterations before counting for every record, context and buffer on
// the path to exist (the round-robin case visits each key ten times).
constexpr int kWarmUpIterations = 10 * kRoundRobinKeys;

struct Path {
  const char* label;
  LibraryMode mode;
  std::function<void()> iteration;
  // The peer allocates on every call: nothing counted there means the hook is broken.
  bool surelyAllocates = false;
};

std::u16string text16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void nestedPairs() {
  const uint32_t a = MOX_startTiming(u"Order", u"create", 1);
  const uint32_t b = MOX_startTiming(u"Pricing", u"quote", 1);
  const uint32_t c = MOX_startTiming(u"Db", u"select", 1);
  MOX_endTiming(c);
  MOX_endTiming(b);
  MOX_endTiming(a);
}

void tracedUnit() {
  const uint32_t a = MOX_startTiming(u"Order", u"create", 1);
  MOX_appendParameterInfo(a, u"id", u"4711");
  const uint32_t b = MOX_startTiming(u"Pricing", u"quote", 1);
  MOX_appendParameterInfo(b, u"id", u"EUR");
  MOX_endTiming(b);
  MOX_endTiming(a);
}

const mox_char* currentSession = u"";
const mox_char* sessionId() { return currentSession; }

void printPerItem(std::ostream& out, const char* what, int count, const AllocationCount& counted) {
  char line[160];
  std::snprintf(line, sizeof line, "| %s | %d | %.0f | %.2f |\n", what, count,
                static_cast<double>(counted.netBytes) / count, static_cast<double>(counted.allocations) / count);
  out << line;
}

}  // namespace

bool reportAllocations(std::ostream& out, int iterations) {
  out << "\n## Heap allocations in steady state (" << iterations << " iterations after " << kWarmUpIterations
      << " of warm-up; every thread's malloc, calloc, realloc and aligned allocations)\n\n";
  if (!allocationHookActive()) {
    out << "Not counted: the allocation hook is not loaded.\n";
    return false;
  }
  bool hookCounts = true;
  const std::vector<std::u16string> methods = roundRobinMethods16();
  size_t next = 0;
  const std::vector<Path> paths = {
      {"mox flat pair", LibraryMode::Plain, [] { MOX_endTiming(MOX_startTiming(u"Comp", u"method", 1)); }},
      {"mox three nested pairs", LibraryMode::Plain, nestedPairs},
      {"mox untimed start+end", LibraryMode::Plain, [] { MOX_endTiming(MOX_startTiming(u"Comp", u"method", 50)); }},
      {"mox 100 keys round robin", LibraryMode::Plain,
       [&] {
         MOX_endTiming(MOX_startTiming(u"Comp", methods[next].c_str(), 1));
         next = (next + 1) % methods.size();
       }},
      {"mox resource increase", LibraryMode::Plain, [] { MOX_increaseResource(u"Pool", 1); }},
      {"mox traced unit, two calls with appends (the trace is kept)", LibraryMode::Traced, tracedUnit},
      {"peer flat pair (per-call labelled observe)", LibraryMode::Plain, peerFlatPair, true},
  };
  out << "| path | allocations | per iteration | net bytes |\n|---|---|---|---|\n";
  for (const Path& path : paths) {
    useLibrary(path.mode);
    for (int i = 0; i < kWarmUpIterations; ++i) path.iteration();
    startCountingAllocations();
    for (int i = 0; i < iterations; ++i) path.iteration();
    const AllocationCount counted = stopCountingAllocations();
    char line[200];
    std::snprintf(line, sizeof line, "| %s | %llu | %.2f | %lld |\n", path.label,
                  static_cast<unsigned long long>(counted.allocations),
                  static_cast<double>(counted.allocations) / iterations, static_cast<long long>(counted.netBytes));
    out << line;
    if (path.mode == LibraryMode::Traced) drainTraces();
    if (path.surelyAllocates && counted.allocations == 0) hookCounts = false;
  }
  return hookCounts;
}

void reportMemory(std::ostream& out, int count) {
  out << "\n## Memory per idle context and per metric key (net heap bytes over " << count << " made)\n\n";
  if (!allocationHookActive()) {
    out << "Not counted: the allocation hook is not loaded.\n";
    return;
  }
  std::vector<std::u16string> names;
  for (int i = 0; i < count; ++i) names.push_back(text16("S" + std::to_string(i)));
  out << "| item | made | bytes each | allocations each |\n|---|---|---|---|\n";

  // An idle context: a session's unit of work opened and left with no call running.
  endLibrary();
  useLibrary(LibraryMode::Plain);
  currentSession = u"warm-up";
  MOX_initContextEx(sessionId, nullptr);
  startCountingAllocations();
  for (const std::u16string& name : names) {
    currentSession = name.c_str();
    MOX_initContextEx(sessionId, nullptr);
  }
  printPerItem(out, "idle context (MOX_initContextEx, no call)", count, stopCountingAllocations());

  // A metric key: one flat pair of a component|method not seen before in the interval.
  endLibrary();
  useLibrary(LibraryMode::Plain);
  MOX_endTiming(MOX_startTiming(u"Warm", u"up", 1));
  startCountingAllocations();
  for (const std::u16string& name : names) MOX_endTiming(MOX_startTiming(u"Key", name.c_str(), 1));
  printPerItem(out, "metric key (first pair of Key|S<i>)", count, stopCountingAllocations());
  endLibrary();
}
