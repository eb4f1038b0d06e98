// mox-demo: a small host that plays a multi-threaded server for a few seconds,
// through the library's public header only.
//
// Worker threads handle requests (request_handler.h tells what each does);
// the main thread plays a report export that runs the whole time, reports
// the resources and cuts one metric interval per second. The library writes
// its trace file and the metric data file into the log directory, or streams
// to a collector given with --collector. With --default-start it starts the
// library as a host without any configuration does (MOX_ProcInit alone): the
// data then goes to a collector on this machine's port 59818. At the end the
// demo prints what the metric data should show and where it went.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "delivery_check.h"
#include "demo_options.h"
#include "demo_server.h"
#include "library_start.h"
#include "mox.h"
#include "output_files.h"
#include "resource_reports.h"
#include "run_summary.h"

namespace {

long msSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// Where the output went, from the files the library wrote since `started`.
void findOutput(RunFacts& facts, std::time_t started) {
  facts.traceFile = fileWrittenSince(facts.settings.logdir, "mox-demo_mox.trc", started);
  if (!facts.settings.streams()) {
    facts.metricFile = fileWrittenSince(facts.settings.logdir, "mox-demo_mtdata.log", started);
  } else if (!facts.traceFile.empty()) {
    facts.delivery = deliveryFromTraceText(readWholeFile(facts.traceFile));
  }
}

int runDemo(const DemoOptions& options) {
  const std::time_t started = std::time(nullptr);
  startLibrary(options);
  RunFacts facts;
  facts.threads = options.threads;
  facts.seconds = options.seconds;
  facts.defaultStart = options.defaultStart;
  facts.settings = readLibrarySettings();
  MOX_initializeResource(kOpenRequests, 0, 0);

  // One call that spans every interval: active in each, finished in the last.
  const auto exportStart = std::chrono::steady_clock::now();
  const uint32_t exportCall = MOX_startTiming(u"Reports", u"export", 1);
  DemoServer server(options.threads);
  ConnectionReporter connections;
  for (int s = 0; s < options.seconds; ++s) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    connections.report(server.connections(), server.counts().abandonedQueries.load());
    MOX_outputMetricData();  // an interval per second instead of one per datasending_interval
  }
  server.stop();
  MOX_endTiming(exportCall);
  facts.exportMs = msSince(exportStart);
  connections.report(server.connections(), server.counts().abandonedQueries.load());
  MOX_ProcExit();  // sends the last interval

  const RequestCounts& counts = server.counts();
  facts.requests = counts.requests.load();
  facts.traced = counts.traced.load();
  facts.abortedPayments = counts.abortedPayments.load();
  facts.abandonedQueries = counts.abandonedQueries.load();
  findOutput(facts, started);
  printSummary(facts, stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine command = parseCommandLine(argc, argv);
  switch (command.action) {
    case CommandLine::Action::Help: std::fputs(usageText(), stdout); return 0;
    case CommandLine::Action::Version: std::printf("mox library %s\n", MOX_DEMO_LIBRARY_VERSION); return 0;
    case CommandLine::Action::Refuse:
      std::fprintf(stderr, "mox-demo: %s\n\n%s", command.problem.c_str(), usageText());
      return 2;
    case CommandLine::Action::Run: break;
  }
  return runDemo(command.options);
}
