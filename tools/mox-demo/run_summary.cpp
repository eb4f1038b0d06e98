#include "run_summary.h"

namespace {

void printWhatToSee(const RunFacts& f, std::FILE* out) {
  const long queried = f.requests - f.abandonedQueries;
  std::fprintf(out, "\nWhat the metric data shows, summed over its intervals (one per second, the last at exit):\n");
  std::fprintf(out, "  OrderService|placeOrder  Finished Counter %ld; Avg. Elapsed Time(ms) count %ld\n", f.requests,
               f.requests);
  std::fprintf(out,
               "  Payment|charge           Finished Counter %ld (%ld - %ld aborted); count %ld: aborted calls keep "
               "their times\n",
               f.requests - f.abortedPayments, f.requests, f.abortedPayments, f.requests);
  std::fprintf(out,
               "  Pricing|quote            Finished Counter %ld, count %ld; Finished with undefined state %ld: ended "
               "with the query open\n",
               f.requests, queried, f.abandonedQueries);
  std::fprintf(out,
               "  Database|select          Finished Counter %ld, count %ld; Finished with undefined state %ld: the "
               "abandoned queries\n",
               queried, queried, f.abandonedQueries);
  if (f.settings.scope != 0) {
    std::fprintf(out,
                 "  Reports|export           Active Counter 1 in every interval but the last; there Finished Counter "
                 "1, about %ld ms\n",
                 f.exportMs);
  } else {
    std::fprintf(out,
                 "  Reports|export           Finished Counter 1 in the last interval, about %ld ms (Active Counter "
                 "lines need perf_metric_scope 1 or more)\n",
                 f.exportMs);
  }
  std::fprintf(out,
               "  Open Requests            Current Value: requests open at each interval's end, 0 in the last; max and "
               "min from 0 to %d\n",
               f.threads);
  std::fprintf(out, "  DB Connections           count: %ld queries in all; KPI Abandoned Queries: %ld in all\n",
               f.requests, f.abandonedQueries);
  std::fprintf(out, "  and %ld transaction traces, one per request with a trace passport\n", f.traced);
  std::fprintf(out, "(README.md, section \"Read the outputs\", explains every label.)\n\n");
}

// How to get a collector listening where the library sends.
std::string collectorCommand(const LibrarySettings& s) {
  const std::string command = "./build/tools/mox-collect/mox-collect --top";
  if (s.agentHost == "localhost" && s.agentPort == "59818") return command;
  return command + " --listen " + s.collectorAddress();
}

void printDelivery(const RunFacts& f, std::FILE* out) {
  const LibrarySettings& s = f.settings;
  const std::string address = s.collectorAddress();
  if (!f.delivery) {
    std::fprintf(
        out,
        "metric data: sent to %s if a collector was listening (the library's trace file, which tells, was not found)\n",
        address.c_str());
    return;
  }
  switch (*f.delivery) {
    case Delivery::Reached: std::fprintf(out, "metric data: sent to the collector at %s\n", address.c_str()); return;
    case Delivery::BadHost:
      std::fprintf(out, "metric data: NOT delivered: the collector's host name '%s' did not resolve\n",
                   s.agentHost.c_str());
      return;
    case Delivery::PartlyLost:
      std::fprintf(out,
                   "metric data: partly lost: the collector at %s was not reachable for part of the run (the trace "
                   "file tells when)\n",
                   address.c_str());
      return;
    case Delivery::NothingThere: break;
  }
  std::fprintf(
      out,
      "metric data: NOT delivered: nothing was listening at %s, so this run's metric data and traces were dropped.\n",
      address.c_str());
  std::fprintf(out, "             Start the collector first (%s) and run the demo again,\n",
               collectorCommand(s).c_str());
  // Without the option the demo writes the file into its own log directory.
  std::fprintf(out, "             or leave out %s to have them written to %s/mox-demo_mtdata.log.\n",
               f.defaultStart ? "--default-start" : "--collector", f.defaultStart ? "./mox-out" : s.logdir.c_str());
}

}  // namespace

void printSummary(const RunFacts& f, std::FILE* out) {
  std::fprintf(out,
               "mox-demo: %d threads ran %ld requests in %d s (%ld with a trace passport, %ld aborted payments, %ld "
               "abandoned queries)\n",
               f.threads, f.requests, f.seconds, f.traced, f.abortedPayments, f.abandonedQueries);
  printWhatToSee(f, out);
  if (f.settings.streams()) {
    printDelivery(f, out);
  } else if (!f.metricFile.empty()) {
    std::fprintf(out, "metric data: %s\n", f.metricFile.c_str());
  } else {
    std::fprintf(out, "metric data: no file was written in %s (the trace file tells why)\n", f.settings.logdir.c_str());
  }
  std::fprintf(out, "trace file:  %s\n", f.traceFile.empty() ? "not found" : f.traceFile.c_str());
}
