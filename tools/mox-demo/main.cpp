// mox-demo: a small host that plays a multi-threaded server for a few seconds.
//
// Worker threads handle "requests": each request is a unit of work with
// nested component/method calls of realistic durations; every tenth request
// brings an application passport that asks for a transaction trace. The
// library writes its trace file into the log directory, and its metric data
// there too, or streams it to a collector given with --collector. With
// --default-start it starts the library as a host without any configuration
// does (MOX_ProcInit alone): the data then goes to a collector on this
// machine's port 59818, the trace file into the working directory.
//
//   mox-demo [--seconds N] [--threads N] [--logdir DIR] [--collector HOST:PORT | --default-start]
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mox.h"

namespace {

struct Options {
  int seconds = 3;
  int threads = 4;
  std::string logdir = "./mox-out";
  std::string collectorHost;  // empty: metric data goes to a file
  std::string collectorPort;
  bool defaultStart = false;
};

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// "HOST:PORT", "[v6-address]:PORT" or "v6-address:PORT" (split at the last colon).
void splitHostPort(const std::string& text, Options& o) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    std::fprintf(stderr, "mox-demo: --collector wants HOST:PORT, not '%s'\n", text.c_str());
    std::exit(2);
  }
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  o.collectorHost = host;
  o.collectorPort = text.substr(colon + 1);
}

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--default-start") == 0) o.defaultStart = true;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--default-start") == 0) --i;  // takes no value
    if (std::strcmp(argv[i], "--seconds") == 0) o.seconds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--threads") == 0) o.threads = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--logdir") == 0) o.logdir = argv[i + 1];
    if (std::strcmp(argv[i], "--collector") == 0) splitHostPort(argv[i + 1], o);
  }
  return o;
}

void work(std::mt19937& rng, int minMs, int maxMs) {
  std::uniform_int_distribution<int> ms(minMs, maxMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms(rng)));
}

// One timed call around body.
template <typename F>
void timed(const char16_t* component, const char16_t* method, F&& body) {
  const uint32_t id = MOX_startTiming(component, method, 1);
  body();
  MOX_endTiming(id);
}

struct Stats {
  std::atomic<long> requests{0};
  std::atomic<long> traced{0};
  std::atomic<long> failed{0};
};

void handleRequest(std::mt19937& rng, long number, Stats& stats) {
  if (number % 10 == 0) {
    const std::u16string passport = u"DEMO" + widen(std::to_string(number)) + u"*1000";
    MOX_initContext(passport.c_str());
    stats.traced++;
  }
  timed(u"OrderService", u"placeOrder", [&] {
    MOX_appendUserID(u"demo-user");
    timed(u"Inventory", u"reserve", [&] { work(rng, 1, 5); });
    timed(u"Pricing", u"quote", [&] {
      work(rng, 1, 3);
      timed(u"Database", u"select", [&] { work(rng, 2, 8); });
    });
    if (number % 17 == 0) {
      // A failing payment: the call is aborted, not ended.
      const uint32_t id = MOX_startTiming(u"Payment", u"charge", 1);
      work(rng, 1, 4);
      MOX_terminateTiming(id);
      stats.failed++;
    } else {
      timed(u"Payment", u"charge", [&] { work(rng, 3, 10); });
    }
  });
  stats.requests++;
}

void worker(int index, const std::atomic<bool>& stop, Stats& stats) {
  std::mt19937 rng(1234 + index);
  // Request numbers of different threads never meet; every tenth of a
  // thread's requests is traced.
  long number = static_cast<long>(index) * 1000000;
  while (!stop.load()) {
    handleRequest(rng, number, stats);
    ++number;
    MOX_increaseResource(u"Open Requests", 0);
  }
}

// The library as the options ask: without any configuration, or with the
// demo's own parameters (file output, or a collector).
void startLibrary(const Options& options) {
  if (options.defaultStart) {
    MOX_ProcInit(u"mox-demo", 0);
    return;
  }
  mkdir(options.logdir.c_str(), 0755);
  const std::u16string logdir = widen(options.logdir);
  const std::u16string host = widen(options.collectorHost);
  const std::u16string port = widen(options.collectorPort);
  const bool toCollector = !options.collectorHost.empty();
  // An IPv6 collector needs the library's IPv6 switch, unless the caller set it.
  if (options.collectorHost.find(':') != std::string::npos) setenv("VEL_IPv6_ACTIVE", "1", 0);
  std::vector<const mox_char*> pairs = {u"datasending_method",
                                        toCollector ? u"socket" : u"file",
                                        u"logdir",
                                        logdir.c_str(),
                                        u"lib_trace_level",
                                        u"1",
                                        u"tracecheck_interval",
                                        u"2"};
  if (toCollector) {
    for (const mox_char* p : {u"agent_host", host.c_str(), u"agent_port", port.c_str()}) pairs.push_back(p);
  }
  MOX_ProcInitWithParam(u"mox-demo", 0, static_cast<uint32_t>(pairs.size() / 2), pairs.data());
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  startLibrary(options);
  MOX_initializeResource(u"Open Requests", 0, 0);

  Stats stats;
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < options.threads; ++i) workers.emplace_back(worker, i, std::cref(stop), std::ref(stats));

  for (int s = 0; s < options.seconds; ++s) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    MOX_outputMetricData();  // one metric block per second instead of waiting for the interval
  }
  stop = true;
  for (auto& t : workers) t.join();
  MOX_ProcExit();

  std::printf("mox-demo: %d threads ran %ld requests in %d s (%ld with a trace passport, %ld aborted payments)\n",
              options.threads, stats.requests.load(), options.seconds, stats.traced.load(), stats.failed.load());
  if (options.defaultStart) {
    std::printf("metric data: sent to the collector on this machine's port 59818\n");
    std::printf("trace file:  ./mox-demo_mox.trc\n");
    return 0;
  }
  if (!options.collectorHost.empty()) {
    std::printf("metric data: sent to %s:%s\n", options.collectorHost.c_str(), options.collectorPort.c_str());
  } else {
    std::printf("metric data: %s/mox-demo_mtdata.log\n", options.logdir.c_str());
  }
  std::printf("trace file:  %s/mox-demo_mox.trc\n", options.logdir.c_str());
  return 0;
}
