// Collects the runs of the benchmarks (each repetition on its own) and
// prints them as one table: per case the medians of the floor, the peer and
// the library, and the ratios the targets are stated in. Ratios are of
// medians from the same run, since the machine's speed drifts from minute to
// minute.
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

 private:
  // Nanoseconds per pair as one thread sees it, one entry per repetition.
  std::vector<double> samples(const std::string& name, int threads, int pairsPerIteration) const;
  double median(const std::string& name, int threads = 1, int pairsPerIteration = 1) const;

  std::unique_ptr<benchmark::ConsoleReporter> console_;
  std::map<std::pair<std::string, int>, std::vector<double>> nsPerIteration_;
};
