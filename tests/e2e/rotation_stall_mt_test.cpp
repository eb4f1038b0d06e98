// The interval switch with a million timing keys: a timing pair on another
// thread must not wait for the switch to walk or free the interval's records.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "e2e/e2e_support.h"
#include "support/tcp_listener.h"

namespace {

using e2e::LibraryTest;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The same shape at a tenth of the size: a sanitizer's run reports, it does not judge times.
constexpr long kKeys = 100000;
constexpr bool kJudgeTimes = false;
#else
constexpr long kKeys = 1000000;
constexpr bool kJudgeTimes = true;
#endif

// A pair that the scheduler took off its core is slow for reasons of its
// own: on a loaded machine such pairs are reported but not judged.
long involuntarySwitches() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nivcsw;
}

struct Pair {
  double ms;
  bool preempted;
};

// Times pairs of one key until stop, keeping those begun while recording.
class Probe {
 public:
  void run() {
    while (!stop_.load()) {
      const bool recording = recording_.load();
      const long switches = involuntarySwitches();
      const Clock::time_point begin = Clock::now();
      MOX_endTiming(MOX_startTiming(u"Probe", u"pair", 1));
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
      if (recording) pairs_.push_back({ms, involuntarySwitches() != switches});
      ++done_;
    }
  }
  std::atomic<bool> stop_{false}, recording_{false};
  std::atomic<long> done_{0};
  std::vector<Pair> pairs_;  // the probe's own until it is joined
};

struct Spread {
  double p999 = 0, max = 0;
  size_t count = 0;
};

Spread spreadOf(const std::vector<Pair>& pairs, bool withPreempted) {
  std::vector<double> ms;
  for (const Pair& p : pairs) {
    if (withPreempted || !p.preempted) ms.push_back(p.ms);
  }
  Spread s;
  s.count = ms.size();
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  s.p999 = ms[std::min(ms.size() - 1, ms.size() * 999 / 1000)];
  s.max = ms.back();
  return s;
}

// Two switches: the first ends the interval with every key, the second makes
// its section current again, the moment its records are discarded at the latest.
TEST_F(LibraryTest, TimingPairsDoNotWaitForTheSwitchOfAMillionKeyInterval) {
  // Metric text goes nowhere (a port bound but not listening refuses), so the
  // test measures the switch, not the formatting.
  const int closedPort = testsupport::boundLoopbackSocket(AF_INET, 0);
  ASSERT_GE(closedPort, 0);
  initPairs({{"logdir", dir_.string()},
             {"agent_host", "127.0.0.1"},
             {"agent_port", std::to_string(testsupport::localPort(closedPort))},
             {"perf_metric_scope", "1"},
             {"max_timing_keys_per_interval", "0"}});
  const Clock::time_point filling = Clock::now();
  std::u16string component = u"Key";
  for (long i = 0; i < kKeys; ++i) {
    component.resize(3);
    for (long n = i; n > 0 || component.size() == 3; n /= 10) component.push_back(static_cast<char16_t>(u'0' + n % 10));
    MOX_endTiming(MOX_startTiming(component.c_str(), u"run", 1));
  }
  const double fillSeconds = std::chrono::duration<double>(Clock::now() - filling).count();

  Probe probe;
  std::thread prober([&] { probe.run(); });
  ASSERT_TRUE(e2e::waitUntil([&] { return probe.done_.load() >= 1000; }));
  probe.recording_ = true;
  const Clock::time_point switching = Clock::now();
  MOX_outputMetricData();
  MOX_outputMetricData();
  const double switchSeconds = std::chrono::duration<double>(Clock::now() - switching).count();
  probe.recording_ = false;
  probe.stop_ = true;
  prober.join();
  close(closedPort);

  const Spread all = spreadOf(probe.pairs_, true), judged = spreadOf(probe.pairs_, false);
  std::printf("%ld keys filled in %.1f s, two switches in %.2f s\n", kKeys, fillSeconds, switchSeconds);
  std::printf(
      "pairs during the switches: %zu, p99.9 %.3f ms, max %.3f ms; not preempted: %zu, p99.9 %.3f ms, max %.3f ms\n",
      all.count, all.p999, all.max, judged.count, judged.p999, judged.max);
  ASSERT_GT(judged.count, 0u);
  // The target is 1 ms; the bound leaves room for a loaded machine's wake-ups
  // and stays far below the tens to hundreds of milliseconds of a switch that
  // walks its records under the section lock.
  if (kJudgeTimes) {
    EXPECT_LT(judged.max, 25.0);
  }
}

}  // namespace
