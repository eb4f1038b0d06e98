// Collects the runs of the benchmarks (each repetition on its own) and
// prints them as one table: per case the medians of the floor, the peer and
// the library, and the ratios the targets are stated in. Ratios are of
// medians from the same run, since the machine's speed drifts from minute to
// minute. The table is in CPU time, which time the machine gives to other
// processes does not inflate; the two-thread scaling is in wall time, which
// is what throughput means.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class ResultTable : public benchmark::BenchmarkReporter {
 public:
  // The runs as Google Benchmark prints them go to progress.
  explicit ResultTable(std::ostream& progress);

  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  void print(std::ostream& out) const;
  // Whether every case of the table has its runs (a renamed benchmark would
  // leave a hole): the smoke run fails otherwise.
  bool complete() const;

 private:
  enum class Time { Cpu, Wall };
  // Nanoseconds per pair on one thread, one entry per repetition.
  std::vector<double> samples(const std::string& name, int threads, int pairsPerIteration, Time time) const;
  double median(const std::string& name, int threads, int pairsPerIteration, Time time) const;

  struct Repetition {
    double wallNsPerIteration;
    double cpuNsPerIteration;
  };
  std::unique_ptr<benchmark::ConsoleReporter> console_;
  std::map<std::pair<std::string, int>, std::vector<Repetition>> repetitions_;
};
