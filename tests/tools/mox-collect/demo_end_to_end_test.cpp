// The demo host streams to mox-collect over real TCP: every label that
// the README (section "Read the outputs") explains moves the way the demo's report says.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <regex>
#include <sstream>

#include "program_runner.h"

namespace {

using nlohmann::json;

constexpr int kSeconds = 2;
constexpr int kThreads = 2;

// The collector's records of the demo: how many of each kind, the version, and the metric lines by
// key and label in interval order.
struct Collected {
  explicit Collected(const std::string& jsonLines) {
    std::istringstream lines(jsonLines);
    for (std::string line; std::getline(lines, line);) {
      const json record = json::parse(line);
      ++kinds[record.at("kind")];
      if (record.at("kind") == "version") version = record.at("value");
      if (record.at("kind") == "metric") metrics[{record.at("key"), record.at("label")}].push_back(record);
    }
  }
  // One attribute of the line in every interval in which it was sent.
  std::vector<long> values(const std::string& key, const std::string& label, const char* attribute = "value") const {
    std::vector<long> out;
    const auto found = metrics.find({key, label});
    if (found != metrics.end())
      for (const json& line : found->second) out.push_back(line.at(attribute).get<long>());
    return out;
  }
  long sum(const std::string& key, const std::string& label, const char* attribute = "value") const {
    const auto all = values(key, label, attribute);
    return std::accumulate(all.begin(), all.end(), 0L);
  }

  std::map<std::string, long> kinds;
  std::string version;
  std::map<std::pair<std::string, std::string>, std::vector<json>> metrics;
};

long maxOf(const std::vector<long>& v) { return v.empty() ? -1 : *std::max_element(v.begin(), v.end()); }
long minOf(const std::vector<long>& v) { return v.empty() ? -1 : *std::min_element(v.begin(), v.end()); }

TEST(DemoToCollector, EveryExplainedLabelMovesAsTheDemoReports) {
  testsupport::TempDir dir;
  collecttest::Program collector(dir, collecttest::listening(dir, {"--once", "--timeout", "120", "--quiet"}),
                                 MOX_COLLECT_BIN, "collect-");
  const std::string address = "127.0.0.1:" + std::to_string(collecttest::portOf(dir));
  collecttest::Program demo(dir,
                            {"--collector", address, "--seconds", std::to_string(kSeconds), "--threads",
                             std::to_string(kThreads), "--logdir", dir.path()},
                            MOX_DEMO_BIN, "demo-");
  ASSERT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  // What the demo says it did.
  const std::string report = demo.out();
  const std::regex said(R"(ran (\d+) requests in \d+ s \((\d+) with a trace passport, )"
                        R"((\d+) aborted payments, (\d+) abandoned queries\))");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(report, m, said)) << report;
  const long requests = std::stol(m[1]), traced = std::stol(m[2]), aborted = std::stol(m[3]);
  const long abandoned = std::stol(m[4]);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "metric data: sent to the collector at " + address + "\n", report);
  ASSERT_EQ(collector.exitCode(std::chrono::seconds(60)), 0) << collector.err();
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "mox-collect: summary connections=2 ", collector.err());
  Collected got(collector.out());
  // Each kind of request happened, so each label below has something to count.
  ASSERT_TRUE(traced > 0 && aborted > 0 && abandoned > 0) << report;

  {
    SCOPED_TRACE("finished calls and the averages' counts");
    const long queried = requests - abandoned;
    const std::tuple<const char*, long, long, long> keys[] = {
        // key, Finished Counter, Finished with undefined state, count of the averages
        {"OrderService|placeOrder", requests, 0, requests},  {"Inventory|reserve", requests, 0, requests},
        {"Pricing|quote", requests, abandoned, queried},     {"Database|select", queried, abandoned, queried},
        {"Payment|charge", requests - aborted, 0, requests}, {"Reports|export", 1, 0, 1},
    };
    for (const auto& [key, finished, undefined, count] : keys) {
      EXPECT_EQ(got.sum(key, "Finished Counter"), finished) << key;
      EXPECT_EQ(got.sum(key, "Finished with undefined state"), undefined) << key;
      for (const char* label :
           {"Avg. Elapsed Time(ms)", "Avg. CPU Time(us)", "Avg. Net Elapsed Time(ms)", "Avg. Net CPU Time(us)"}) {
        EXPECT_EQ(got.sum(key, label, "count"), count) << key << " " << label;
      }
    }
  }
  {
    SCOPED_TRACE("running calls: the export spans every interval but the last");
    std::vector<long> active(kSeconds, 1);
    active.push_back(0);
    EXPECT_EQ(got.values("Reports|export", "Active Counter"), active);
    EXPECT_LE(maxOf(got.values("OrderService|placeOrder", "Active Counter")), kThreads);
    EXPECT_GE(got.sum("Reports|export", "Avg. Elapsed Time(ms)"), kSeconds * 1000);
  }
  {
    SCOPED_TRACE("elapsed against CPU and net times");
    // The pricing computes, then waits for its query of at least 2 ms.
    const auto elapsed = got.values("Pricing|quote", "Avg. Elapsed Time(ms)");
    const auto netElapsed = got.values("Pricing|quote", "Avg. Net Elapsed Time(ms)");
    ASSERT_EQ(elapsed.size(), netElapsed.size());
    for (size_t i = 0; i < elapsed.size(); ++i) EXPECT_LE(netElapsed[i] + 2, elapsed[i]) << "interval " << i;
    EXPECT_GT(minOf(got.values("Pricing|quote", "Avg. CPU Time(us)")), 0);
    EXPECT_GT(minOf(got.values("Pricing|quote", "Avg. Net CPU Time(us)")), 0);
  }
  {
    SCOPED_TRACE("resources");
    const auto open = got.values("Open Requests", "Current Value");
    ASSERT_EQ(open.size(), kSeconds + 1u);
    EXPECT_EQ(open.back(), 0);
    EXPECT_GE(maxOf(got.values("Open Requests", "Current Value", "max")), 1);
    EXPECT_LE(maxOf(got.values("Open Requests", "Current Value", "max")), kThreads);
    EXPECT_GE(minOf(got.values("Open Requests", "Current Value", "min")), 0);
    EXPECT_EQ(got.values("DB Connections", "Current Value").back(), 0);
    EXPECT_GE(maxOf(got.values("DB Connections", "Current Value", "max")), 1);
    EXPECT_LE(maxOf(got.values("DB Connections", "Current Value", "max")), kThreads);
    EXPECT_EQ(got.sum("DB Connections", "Current Value", "count"), requests);  // one query per request
    EXPECT_EQ(got.sum("DB Connections", "Abandoned Queries"), abandoned);
    for (const char* counter : {"Zombie Context Count", "Empty Context Count"}) {
      EXPECT_EQ(got.values(counter, "Current Value"), std::vector<long>{0}) << counter;
    }
  }
  {
    SCOPED_TRACE("traces and the version");
    EXPECT_EQ(got.kinds["trace"], traced);
    EXPECT_EQ(got.kinds["version"], 1);
    collecttest::Program version(dir, {"--version"}, MOX_DEMO_BIN, "version-");
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.out(), "mox library " + got.version + "\n");
  }
}

}  // namespace
