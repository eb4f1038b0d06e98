#include "result_table.h"

#include <algorithm>
#include <cstdio>

#include "bench_cases.h"

namespace {

constexpr double kNone = -1;

std::string formatNs(double ns) {
  if (ns < 0) return "–";
  char text[32];
  std::snprintf(text, sizeof text, ns >= 100 ? "%.0f" : "%.1f", ns);
  return text;
}

std::string formatRatio(double numerator, double denominator) {
  if (numerator < 0 || denominator <= 0) return "–";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", numerator / denominator);
  return text;
}

double medianOf(std::vector<double> values) {
  if (values.empty()) return kNone;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One row: a case's three sides, the ratio the target is stated in and
// whether the library meets it.
struct Row {
  std::string label;
  double floor;
  double peer;
  double mox;
  std::string target;
  bool met;
};

void printRow(std::ostream& out, const Row& row) {
  out << "| " << row.label << " | " << formatNs(row.floor) << " | " << formatNs(row.peer) << " | " << formatNs(row.mox)
      << " | " << formatRatio(row.mox, row.peer) << " | " << formatRatio(row.mox, row.floor) << " | " << row.target
      << " | "
      << (row.mox < 0 ? "–"
          : row.met   ? "yes"
                      : "no")
      << " |\n";
}

}  // namespace

ResultTable::ResultTable(std::ostream& progress)
    : console_(std::make_unique<benchmark::ConsoleReporter>(benchmark::ConsoleReporter::OO_None)) {
  console_->SetOutputStream(&progress);
  console_->SetErrorStream(&progress);
  SetOutputStream(&progress);
  SetErrorStream(&progress);
}

bool ResultTable::ReportContext(const Context& context) { return console_->ReportContext(context); }

void ResultTable::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    repetitions_[{run.run_name.function_name, static_cast<int>(run.threads)}].push_back(
        {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()});
  }
  console_->ReportRuns(runs);
}

void ResultTable::Finalize() { console_->Finalize(); }

// Google Benchmark divides the threads' mean wall time by the iterations of
// all threads (one thread's wall time per pair is that times the thread
// count), and their summed CPU time by the same (one thread's CPU time per pair).
std::vector<double> ResultTable::samples(const std::string& name, int threads, int pairsPerIteration, Time time) const {
  const auto found = repetitions_.find({name, threads});
  if (found == repetitions_.end()) return {};
  std::vector<double> perPair;
  for (const Repetition& r : found->second) {
    perPair.push_back((time == Time::Wall ? r.wallNsPerIteration * threads : r.cpuNsPerIteration) / pairsPerIteration);
  }
  return perPair;
}

double ResultTable::median(const std::string& name, int threads, int pairsPerIteration, Time time) const {
  return medianOf(samples(name, threads, pairsPerIteration, time));
}

void ResultTable::print(std::ostream& out) const {
  auto side = [this](const std::string& kase, const char* who, int threads = 1, int pairs = 1, Time time = Time::Cpu) {
    return median(kase + "/" + who, threads, pairs, time);
  };
  auto sides = [&](const std::string& kase, int threads = 1, int pairs = 1, Time time = Time::Cpu) {
    return std::vector<double>{side(kase, "floor", threads, pairs, time), side(kase, "peer", threads, pairs, time),
                               side(kase, "mox", threads, pairs, time)};
  };
  // Throughput of two threads over one: 2 × (one thread's time per pair) / (two threads' time per pair).
  auto scaling = [](double oneThread, double twoThreads) {
    return oneThread < 0 || twoThreads <= 0 ? kNone : 2 * oneThread / twoThreads;
  };

  const std::vector<double> flat = sides("flat");
  const std::vector<double> keys = sides("keys100");
  const std::vector<double> nested = sides("nested", 1, kNestedPairs);
  const std::vector<double> untimed = sides("untimed");
  const std::vector<double> shared1 = sides("shared");
  const std::vector<double> shared2 = sides("shared", 2);
  const std::vector<double> distinct1 = sides("distinct");
  const std::vector<double> distinct2 = sides("distinct", 2);
  const std::vector<double> resource = sides("resource");
  const std::vector<double> sharedWall1 = sides("shared", 1, 1, Time::Wall);
  const std::vector<double> sharedWall2 = sides("shared", 2, 1, Time::Wall);
  const std::vector<double> distinctWall1 = sides("distinct", 1, 1, Time::Wall);
  const std::vector<double> distinctWall2 = sides("distinct", 2, 1, Time::Wall);
  const double traced = side("traced", "mox");
  const double cpuClock = side("cpu_clock", "floor");
  const double clockPerUnit = cpuClock < 0 ? kNone : kCpuClockReadsPerTracedUnit * cpuClock;
  const double besidesClock = traced < 0 || clockPerUnit < 0 ? kNone : traced - clockPerUnit;

  double sharedWorst = kNone;
  const std::vector<double> sharedMoxWall2 = samples("shared/mox", 2, 1, Time::Wall);
  for (double twoThreads : sharedMoxWall2) {
    const double s = scaling(sharedWall1[2], twoThreads);
    if (sharedWorst < 0 || s < sharedWorst) sharedWorst = s;
  }
  const double distinctScaling = scaling(distinctWall1[2], distinctWall2[2]);

  out << "CPU nanoseconds per pair (per call for untimed and resource, per unit for traced), medians of each\n"
      << "case's repetitions, interleaved in one run. Two-thread rows: the CPU time per pair on each thread;\n"
      << "their scaling is of wall-clock throughput.\n\n"
      << "| case | floor | prometheus-cpp per-call labelled observe | mox | mox / peer | mox / floor | target | met |\n"
      << "|---|---|---|---|---|---|---|---|\n";
  printRow(out, {"flat start+end pair, new unit of work", flat[0], flat[1], flat[2], "≤ 0.5× peer, ≤ 2.5× floor",
                 flat[2] <= 0.5 * flat[1] && flat[2] <= 2.5 * flat[0]});
  printRow(out, {"100 keys round robin", keys[0], keys[1], keys[2], "≤ 0.6× peer", keys[2] <= 0.6 * keys[1]});
  printRow(out, {"three nested pairs, per pair", nested[0], nested[1], nested[2], "≤ 0.4× peer",
                 nested[2] <= 0.4 * nested[1]});
  printRow(out, {"untimed start+end (level not timed)", untimed[0], kNone, untimed[2], "≤ 2× floor",
                 untimed[2] <= 2 * untimed[0]});
  printRow(out, {"two threads, one shared key, per pair", shared2[0], shared2[1], shared2[2],
                 "scaling ≥ 1.0 in each of " + std::to_string(kSharedKeyRepetitions) + " (min " +
                     formatRatio(sharedWorst, 1) + ")",
                 sharedWorst >= 1.0});
  printRow(out, {"two threads, distinct keys, per pair", distinct2[0], distinct2[1], distinct2[2],
                 "scaling ≥ 1.6 (" + formatRatio(distinctScaling, 1) + ")", distinctScaling >= 1.6});
  printRow(out, {"traced unit of three nested calls with appends", kNone, kNone, traced,
                 "≤ 1500 ns besides the CPU clock (" + formatNs(besidesClock) + ")",
                 besidesClock >= 0 && besidesClock <= 1500});
  printRow(out, {"resource increase", resource[0], resource[1], resource[2], "–", true});

  auto cpuGrowth = [](double oneThread, double twoThreads) { return formatRatio(twoThreads, oneThread); };
  out << "\nTwo threads: wall-clock throughput over one thread's (1.00: no gain; both threads need a core each)\n"
      << "  one shared key: floor " << formatRatio(scaling(sharedWall1[0], sharedWall2[0]), 1) << ", peer "
      << formatRatio(scaling(sharedWall1[1], sharedWall2[1]), 1) << ", mox "
      << formatRatio(scaling(sharedWall1[2], sharedWall2[2]), 1) << " (median; mox's minimum over its "
      << sharedMoxWall2.size() << " repetitions: " << formatRatio(sharedWorst, 1) << ")\n"
      << "  distinct keys:  floor " << formatRatio(scaling(distinctWall1[0], distinctWall2[0]), 1) << ", peer "
      << formatRatio(scaling(distinctWall1[1], distinctWall2[1]), 1) << ", mox " << formatRatio(distinctScaling, 1)
      << "\n"
      << "CPU time per pair on two threads over one thread's (1.00: sharing costs nothing)\n"
      << "  one shared key: floor " << cpuGrowth(shared1[0], shared2[0]) << ", peer "
      << cpuGrowth(shared1[1], shared2[1]) << ", mox " << cpuGrowth(shared1[2], shared2[2]) << "\n"
      << "  distinct keys:  floor " << cpuGrowth(distinct1[0], distinct2[0]) << ", peer "
      << cpuGrowth(distinct1[1], distinct2[1]) << ", mox " << cpuGrowth(distinct1[2], distinct2[2]) << "\n";
  out << "Traced unit: " << formatNs(traced) << " ns, of which " << kCpuClockReadsPerTracedUnit
      << " thread CPU clock reads × " << formatNs(cpuClock) << " ns = " << formatNs(clockPerUnit) << " ns ("
      << (traced > 0 && clockPerUnit >= 0 ? formatRatio(100 * clockPerUnit, traced) : "–") << " %); besides the clock "
      << formatNs(besidesClock) << " ns.\n";
}

bool ResultTable::complete() const {
  const std::vector<std::pair<std::string, int>> expected = {
      {"flat/floor", 1},    {"flat/peer", 1},    {"flat/mox", 1},    {"keys100/floor", 1},   {"keys100/peer", 1},
      {"keys100/mox", 1},   {"nested/floor", 1}, {"nested/peer", 1}, {"nested/mox", 1},      {"untimed/floor", 1},
      {"untimed/mox", 1},   {"shared/floor", 2}, {"shared/peer", 2}, {"shared/mox", 2},      {"distinct/floor", 2},
      {"distinct/peer", 2}, {"distinct/mox", 2}, {"traced/mox", 1},  {"cpu_clock/floor", 1}, {"resource/floor", 1},
      {"resource/peer", 1}, {"resource/mox", 1}};
  for (const auto& key : expected) {
    if (repetitions_.count(key) == 0) return false;
  }
  return true;
}
