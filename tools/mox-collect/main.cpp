// mox-collect: a collecting agent for the library's socket data sending.
// See README.md beside this file, or run mox-collect --help.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "collector.h"
#include "json_sink.h"
#include "options.h"
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

bool startListening(Collector& collector, const Options& options) {
  if (!collector.open()) return false;
  if (options.portFile.empty() || writePortFile(options.portFile, collector.listeners().front().port())) return true;
  std::cerr << "mox-collect: cannot write " << options.portFile << '\n';
  return false;
}

int runCollector(const Options& options) {
  std::vector<std::unique_ptr<RecordSink>> sinks;
  if (!options.outDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    if (error) {
      std::cerr << "mox-collect: cannot create " << options.outDir << ": " << error.message() << '\n';
      return 1;
    }
    sinks.push_back(std::make_unique<RawFileSink>(options.outDir, std::cerr));
  }
  if (options.json) sinks.push_back(std::make_unique<JsonSink>(std::cout));
  if (options.top) {
    sinks.push_back(std::make_unique<TopSink>(std::cout, options.interval, options.rows, isatty(STDOUT_FILENO) == 1));
  }
  std::vector<RecordSink*> sinkPointers;
  for (const auto& sink : sinks) sinkPointers.push_back(sink.get());

  CollectorSettings settings;
  settings.listen = options.listen;
  settings.recordLimit = options.count;
  settings.stopWhenIdle = options.once;
  settings.runFor = options.timeout;
  settings.quiet = options.quiet;
  settings.elementLimits = options.limits;
  Collector collector(settings, sinkPointers, std::cerr);
  // From here a stop signal makes run() return at once, with the summary.
  g_collector = &collector;
  installSignals();
  const bool listening = startListening(collector, options);
  const bool written = listening && collector.run();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  g_collector = nullptr;
  if (!listening) return 1;
  if (!written) std::cerr << "mox-collect: output failed, stopped\n";
  std::cerr << "mox-collect: " << collector.stats().summary() << std::endl;
  return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
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
