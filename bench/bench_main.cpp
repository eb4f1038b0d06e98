// The benchmark of the timing hot path: the library beside the prometheus-cpp
// peer and the floor, then the heap use and the interval switch.
//
//   ./build/bench/mox_bench            the full report (a few minutes)
//   ./build/bench/mox_bench --smoke    every case once, briefly, failing when a
//                                      measurement did not take place (CI)
//
// The heap figures come from a second process of this program, started with
// the allocation hook preloaded (--heap-only), so that the timing run pays
// nothing for the hook.
//
// Google Benchmark's own flags pass through (a --benchmark_filter narrows the
// table); its per-run lines go to standard error, the report to standard output.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bench_library.h"
#include "interval_switch.h"
#include "memory_report.h"
#include "result_table.h"

namespace {

struct Options {
  bool smoke = false;
  bool tableOnly = false;
  bool heapOnly = false;
  bool filtered = false;  // a --benchmark_filter leaves some of the table out
};

// Takes this program's own flags out of argv; the rest is Google Benchmark's.
Options takeOwnFlags(std::vector<char*>& args) {
  Options options;
  std::vector<char*> rest;
  for (char* arg : args) {
    if (std::strcmp(arg, "--smoke") == 0) {
      options.smoke = true;
    } else if (std::strcmp(arg, "--table-only") == 0) {
      options.tableOnly = true;
    } else if (std::strcmp(arg, "--heap-only") == 0) {
      options.heapOnly = true;
    } else {
      if (std::strncmp(arg, "--benchmark_filter", 18) == 0) options.filtered = true;
      rest.push_back(arg);
    }
  }
  args = rest;
  return options;
}

// The one-minute load average, from /proc/loadavg ("?" where there is none).
std::string machineLoad() {
  std::ifstream file("/proc/loadavg");
  std::string oneMinute;
  return file >> oneMinute ? oneMinute : "?";
}

// In the process with the hook: the heap figures alone.
int heapReport(const Options& options) {
  std::cout.flush();
  const bool counted = reportAllocations(std::cout, options.smoke ? 1000 : 100000);
  reportMemory(std::cout, options.smoke ? 100 : 10000);
  endLibrary();
  return counted ? 0 : 1;
}

extern "C" char** environ;

// Runs this program again with the hook preloaded; true when it reported.
bool runHeapReport(const Options& options) {
#ifdef MOX_BENCH_ALLOC_HOOK
  std::vector<std::string> environment = {std::string("LD_PRELOAD=") + MOX_BENCH_ALLOC_HOOK};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LD_PRELOAD=", 11) != 0) environment.emplace_back(*entry);
  }
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string self = "/proc/self/exe", heapOnly = "--heap-only", smoke = "--smoke";
  std::vector<char*> argv = {self.data(), heapOnly.data()};
  if (options.smoke) argv.push_back(smoke.data());
  argv.push_back(nullptr);
  std::cout.flush();
  pid_t child = 0;
  if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#else
  (void)options;
  std::cout
      << "\n## Heap allocations\n\nNot counted: a sanitizer build owns malloc, so the allocation hook is not built.\n";
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv + 1, argv + argc);
  const Options options = takeOwnFlags(args);
  if (options.heapOnly) return heapReport(options);
  // Defaults first: a flag given on the command line comes later and wins.
  // Many short repetitions, interleaved, keep a median steady on a machine
  // whose load comes and goes.
  std::vector<std::string> defaults = {"--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true",
                                       "--benchmark_min_time=0.1"};
  if (options.smoke) defaults = {"--benchmark_repetitions=1", "--benchmark_min_time=0.001"};
  std::vector<char*> benchmarkArgs = {argv[0]};
  for (std::string& flag : defaults) benchmarkArgs.push_back(flag.data());
  benchmarkArgs.insert(benchmarkArgs.end(), args.begin(), args.end());
  int benchmarkArgc = static_cast<int>(benchmarkArgs.size());
  benchmark::Initialize(&benchmarkArgc, benchmarkArgs.data());
  if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, benchmarkArgs.data())) return 1;

  ResultTable table(std::cerr);
  const std::string loadBefore = machineLoad();
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  std::cout << "## The hot path\n\n";
  table.print(std::cout);
  // Two threads scale only when the machine has two cores to spare.
  std::cout << "Machine: " << std::thread::hardware_concurrency() << " cores, load average " << loadBefore
            << " before the table and " << machineLoad() << " after it.\n";
  bool measured = true;
  if (!options.tableOnly) {
    measured = runHeapReport(options) && measured;
    measured =
        reportIntervalSwitch(std::cout, options.smoke ? IntervalSwitchOptions{2000, 1, 20} : IntervalSwitchOptions{}) &&
        measured;
  }
  endLibrary();
  // A smoke run checks that every measurement took place.
  if (options.smoke && !(measured && (options.filtered || table.complete()))) {
    std::cerr << "mox_bench: a measurement did not take place (see the report)\n";
    return 1;
  }
  return 0;
}
