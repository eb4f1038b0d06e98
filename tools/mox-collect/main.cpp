// mox-collect: a collecting agent for the library's socket data sending.
// See README.md beside this file, or run mox-collect --help.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "collector.h"
#include "http_server.h"
#include "json_sink.h"
#include "live_page.h"
#include "live_sink.h"
#include "log.h"
#include "options.h"
#include "prometheus_sink.h"
#include "raw_file_sink.h"
#include "top_sink.h"

namespace {

using namespace moxcollect;

// Read by the signal handler; lock-free, so safe there.
std::atomic<Collector*> g_collector{nullptr};

extern "C" void onStopSignal(int) {
  Collector* collector = g_collector.load();
  if (collector != nullptr) collector->requestStop();
}

void installSignals() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  action.sa_flags = SA_RESTART;  // a write to the output or the log goes on
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed stdout shows as a failed write instead
}

// Written under a temporary name and renamed, so a reader never sees half a number.
bool writePortFile(const std::string& path, uint16_t port) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << '\n';
    if (!out.good()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

bool startListening(Collector& collector, const Options& options, Log& log) {
  if (!collector.open()) return false;
  if (options.portFile.empty() || writePortFile(options.portFile, collector.listeners().front().port())) return true;
  log.line("cannot write " + options.portFile);
  return false;
}

CollectorSettings settingsOf(const Options& options) {
  CollectorSettings settings;
  settings.listen = options.listen;
  settings.recordLimit = options.count;
  settings.stopWhenIdle = options.once;
  settings.runFor = options.timeout;
  settings.quiet = options.quiet;
  settings.elementLimits = options.limits;
  settings.idleTimeout = options.idleTimeout;
  settings.maxConnections = static_cast<size_t>(options.maxConnections);
  settings.maxPerAddress = static_cast<size_t>(options.maxPerAddress);
  settings.memoryBudget = static_cast<size_t>(options.memoryMib) << 20;
  settings.queueBytes = static_cast<size_t>(options.queueMib) << 20;
  return settings;
}

// The live page of --http: its sink, and the server over it once started.
struct LivePageParts {
  LiveSink* sink = nullptr;
  std::unique_ptr<LivePage> page;
  RateLimiter limiter;
  std::unique_ptr<HttpServer> server;
};

bool startLivePage(LivePageParts& parts, const Options& options, Log& log) {
  parts.page = std::make_unique<LivePage>(*parts.sink, static_cast<size_t>(options.traces));
  const LivePage& page = *parts.page;
  parts.server =
      std::make_unique<HttpServer>([&page](const HttpRequest& request) { return page.handle(request); }, parts.limiter);
  std::string error;
  if (!parts.server->start(*options.http, error)) {
    log.line("--http: " + error);
    return false;
  }
  const Endpoint& at = *options.http;
  const std::string host = at.host.find(':') == std::string::npos ? at.host : "[" + at.host + "]";
  log.line("live page at http://" + host + ":" + std::to_string(parts.server->port()) + "/");
  return true;
}

// Starts the /metrics server first, so that a port in use ends the run before anything is collected.
bool addPrometheusSink(const Options& options, std::vector<std::unique_ptr<RecordSink>>& sinks, Log& log) {
  PrometheusSink::keepScrapeMemory();  // before any thread starts
  auto prometheus = std::make_unique<PrometheusSink>(static_cast<unsigned>(options.prometheusExpiry),
                                                     static_cast<size_t>(options.prometheusMaxSeries));
  std::string error;
  if (!prometheus->serve(*options.prometheus, error)) {
    log.line(error);
    return false;
  }
  const std::string& host = options.prometheus->host;
  const bool v6 = host.find(':') != std::string::npos;
  log.line("serving Prometheus metrics on " + (v6 ? "[" + host + "]" : host) + ":" +
           std::to_string(prometheus->port()) + "/metrics");
  sinks.push_back(std::move(prometheus));
  return true;
}

int runCollector(const Options& options) {
  Log log(std::cerr);
  std::vector<std::unique_ptr<RecordSink>> sinks;
  if (!options.outDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    if (error) {
      log.line("cannot create " + options.outDir + ": " + error.message());
      return 1;
    }
    sinks.push_back(std::make_unique<RawFileSink>(options.outDir, log, static_cast<size_t>(options.maxFiles),
                                                  static_cast<size_t>(options.maxOpenFiles)));
  }
  if (options.json) sinks.push_back(std::make_unique<JsonSink>(std::cout));
  if (options.top) {
    sinks.push_back(std::make_unique<TopSink>(std::cout, options.interval, options.rows, isatty(STDOUT_FILENO) == 1,
                                              static_cast<size_t>(options.topKeys)));
  }
  LivePageParts live;
  if (options.http) {
    auto sink = std::make_unique<LiveSink>(static_cast<size_t>(options.traces), static_cast<size_t>(options.topKeys));
    live.sink = sink.get();
    sinks.push_back(std::move(sink));
  }
  if (options.prometheus && !addPrometheusSink(options, sinks, log)) return 1;
  std::vector<RecordSink*> sinkPointers;
  for (const auto& sink : sinks) sinkPointers.push_back(sink.get());

  Collector collector(settingsOf(options), sinkPointers, log);
  // From here a stop signal makes run() return at once, with the summary.
  g_collector = &collector;
  installSignals();
  const bool listening =
      startListening(collector, options, log) && (!options.http || startLivePage(live, options, log));
  const bool written = listening && collector.run();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  g_collector = nullptr;
  if (!listening) return 1;
  if (collector.outputStalled()) {
    log.line("output blocked, stopped without writing the records still waiting");
  } else if (!written) {
    log.line("output failed, stopped");
  }
  log.line(collector.stats().summary());
  // The writer thread is still blocked in a write to the output: end without waiting for it.
  if (collector.outputStalled()) std::_Exit(1);
  return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // The log must not wait for standard output, which the sink writer thread owns and which may be blocked.
  std::cerr.tie(nullptr);
  const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::cerr << "mox-collect: " << parsed.error << "\nTry 'mox-collect --help'.\n";
    return 2;
  }
  if (parsed.options.help) {
    std::cout << helpText();
    return 0;
  }
  if (parsed.options.version) {
    std::cout << "mox-collect " << MOX_COLLECT_VERSION << '\n';
    return 0;
  }
  try {
    return runCollector(parsed.options);
  } catch (const std::exception& e) {
    std::cerr << "mox-collect: " << e.what() << '\n';
    return 1;
  }
}
