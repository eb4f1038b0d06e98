#include "interval_switch.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_library.h"
#include "discard_listener.h"
#include "latency_histogram.h"
#include "mox.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Phase { Between, During, Done };

// The host thread's pairs in one phase, and how often the thread left its
// core: voluntary switches mean it waited (a lock, a futex), involuntary ones
// that the machine gave its core to someone else.
struct PhaseRecord {
  LatencyHistogram pairs;
  long waits = 0;
  long preemptions = 0;
};

struct Samples {
  PhaseRecord between;
  PhaseRecord during;
};

struct ContextSwitches {
  long voluntary;
  long involuntary;
};

ContextSwitches threadContextSwitches() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return {usage.ru_nvcsw, usage.ru_nivcsw};
}

void addSwitches(PhaseRecord& record, const ContextSwitches& from, const ContextSwitches& to) {
  record.waits += to.voluntary - from.voluntary;
  record.preemptions += to.involuntary - from.involuntary;
}

std::u16string text16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Keys "Key<i / 100>|m<i % 100>": a hundred methods per component, as hosts have.
struct Keys {
  std::vector<std::u16string> components;
  std::vector<std::u16string> methods;
  explicit Keys(int count) {
    for (int i = 0; i < count; ++i) {
      components.push_back(text16("Key" + std::to_string(i / 100)));
      char method[8];
      std::snprintf(method, sizeof method, "m%02d", i % 100);
      methods.push_back(text16(method));
    }
  }
  void recordAll() const {
    for (size_t i = 0; i < components.size(); ++i) {
      MOX_endTiming(MOX_startTiming(components[i].c_str(), methods[i].c_str(), 1));
    }
  }
};

// timing: set once the host times its pairs in the phase the switch is in.
void timePairs(const std::atomic<Phase>& phase, std::atomic<bool>& timingDuring, Samples& samples) {
  Phase current = Phase::Between;
  ContextSwitches phaseStart = threadContextSwitches();
  for (;;) {
    const Phase now = phase.load(std::memory_order_acquire);
    if (now != current) {
      const ContextSwitches switches = threadContextSwitches();
      addSwitches(current == Phase::Between ? samples.between : samples.during, phaseStart, switches);
      phaseStart = switches;
      current = now;
      if (now == Phase::During) timingDuring.store(true, std::memory_order_release);
    }
    if (now == Phase::Done) return;
    const Clock::time_point start = Clock::now();
    MOX_endTiming(MOX_startTiming(u"Tail", u"pair", 1));
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    (now == Phase::Between ? samples.between : samples.during).pairs.record(static_cast<uint64_t>(ns));
  }
}

// One round: the keys recorded, pairs timed for a while, then the switch
// while pairs go on. Returns the milliseconds MOX_outputMetricData took.
double runRound(const Keys& keys, const IntervalSwitchOptions& options, Samples& samples) {
  keys.recordAll();
  std::atomic<Phase> phase{Phase::Between};
  std::atomic<bool> timingDuring{false};
  std::thread host([&] { timePairs(phase, timingDuring, samples); });
  std::this_thread::sleep_for(std::chrono::milliseconds(options.betweenMs));
  phase.store(Phase::During, std::memory_order_release);
  // A switch of a few keys can end before a preempted host thread runs
  // again: it starts once the host is timing, so that it is measured.
  while (!timingDuring.load(std::memory_order_acquire)) std::this_thread::yield();
  const Clock::time_point start = Clock::now();
  MOX_outputMetricData();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  phase.store(Phase::Done, std::memory_order_release);
  host.join();
  return ms;
}

void printPhase(std::ostream& out, const char* label, const PhaseRecord& record) {
  const LatencyHistogram& pairs = record.pairs;
  char line[240];
  std::snprintf(line, sizeof line, "| %s | %llu | %llu | %llu | %llu | %llu | %llu | %llu | %ld | %ld |\n", label,
                static_cast<unsigned long long>(pairs.count()), static_cast<unsigned long long>(pairs.percentile(0.5)),
                static_cast<unsigned long long>(pairs.percentile(0.99)),
                static_cast<unsigned long long>(pairs.percentile(0.999)),
                static_cast<unsigned long long>(pairs.percentile(0.9999)), static_cast<unsigned long long>(pairs.max()),
                static_cast<unsigned long long>(pairs.countAbove(1000000)), record.waits, record.preemptions);
  out << line;
}

struct AgentResult {
  Samples samples;
  std::vector<double> outputMs;
  double bytesPerInterval = 0;
};

AgentResult measureAgent(const IntervalSwitchOptions& options, const LibrarySettings& agent,
                         const std::function<uint64_t()>& bytesWritten) {  // so far, by this agent
  LibrarySettings settings = agent;
  // Room for every key, so that none goes to the overflow record.
  settings.push_back({u"max_timing_keys_per_interval", text16(std::to_string(2 * options.keys + 16))});
  useLibrary(LibraryMode::Plain, settings);
  MOX_outputMetricData();  // starts from an empty interval (and opens the socket agent's connection)
  emptyMetricFile();
  const Keys keys(options.keys);
  AgentResult result;
  const uint64_t before = bytesWritten();
  for (int round = 0; round < options.rounds; ++round) {
    result.outputMs.push_back(runRound(keys, options, result.samples));
  }
  // The reader may lag behind the writer: wait until the count settles.
  uint64_t written = bytesWritten();
  for (uint64_t last = written + 1; written != last; written = bytesWritten()) {
    last = written;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.bytesPerInterval = static_cast<double>(written - before) / options.rounds;
  emptyMetricFile();
  endLibrary();
  return result;
}

void printAgent(std::ostream& out, const char* agent, const AgentResult& result) {
  std::vector<double> ms = result.outputMs;
  std::sort(ms.begin(), ms.end());
  char line[200];
  std::snprintf(line, sizeof line, "%s: format and write of the interval %.1f ms (median of %zu; max %.1f), %.1f MB\n",
                agent, ms[ms.size() / 2], ms.size(), ms.back(), result.bytesPerInterval / 1e6);
  out << line << "\n| host thread's flat pair, ns | pairs | p50 | p99 | p99.9 | p99.99 | max | > 1 ms | waits | "
      << "preempted |\n|---|---|---|---|---|---|---|---|---|---|\n";
  printPhase(out, "between switches", result.samples.between);
  printPhase(out, "during the switch", result.samples.during);
  out << "\n";
}

bool measured(const AgentResult& result) {
  return result.bytesPerInterval > 0 && result.samples.between.pairs.count() > 0 &&
         result.samples.during.pairs.count() > 0;
}

}  // namespace

bool reportIntervalSwitch(std::ostream& out, const IntervalSwitchOptions& options) {
  out << "\n## The interval switch with " << options.keys << " keys (" << options.rounds
      << " rounds; MOX_outputMetricData on a second thread)\n\n";
  const AgentResult file = measureAgent(options, {}, [] { return metricFileBytes(); });
  printAgent(out, "file agent", file);
  DiscardListener listener;
  const AgentResult socket =
      measureAgent(options, socketAgentSettings(listener.port()), [&listener] { return listener.bytesRead(); });
  printAgent(out, "socket agent (loopback, read and discarded)", socket);
  return measured(file) && measured(socket);
}
