// The demo host streams to mox-collect over real TCP: what the collector
// parsed matches what the demo says it did.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "program_runner.h"

namespace {

TEST(DemoToCollector, CollectorParsesEveryRequestAndTraceTheDemoSent) {
  testsupport::TempDir dir;
  collecttest::Program collector(
      dir, {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--once", "--timeout", "120", "--quiet"},
      MOX_COLLECT_BIN, "collect-");
  ASSERT_TRUE(testsupport::waitUntil([&] { return !testsupport::readFile(dir.file("port")).empty(); }));
  const std::string port = std::to_string(std::stoi(testsupport::readFile(dir.file("port"))));
  collecttest::Program demo(
      dir, {"--collector", "127.0.0.1:" + port, "--seconds", "3", "--threads", "2", "--logdir", dir.path()},
      MOX_DEMO_BIN, "demo-");
  ASSERT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  // "mox-demo: 2 threads ran 311 requests in 3 s (32 with a trace passport, ...)"
  std::smatch report;
  const std::string said = demo.out();
  ASSERT_TRUE(std::regex_search(said, report, std::regex(R"(ran (\d+) requests .*\((\d+) with a trace passport)")))
      << said;
  ASSERT_EQ(collector.exitCode(std::chrono::seconds(60)), 0) << collector.err();

  long finished = 0, traces = 0, versions = 0;
  std::istringstream lines(collector.out());
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json record = nlohmann::json::parse(line);
    traces += record.at("kind") == "trace";
    versions += record.at("kind") == "version";
    if (record.at("kind") == "metric" && record.at("key") == "OrderService|placeOrder" &&
        record.at("label") == "Finished Counter") {
      finished += record.at("value").get<long>();
    }
  }
  EXPECT_GT(finished, 0);
  EXPECT_EQ(finished, std::stol(report[1]));
  EXPECT_EQ(traces, std::stol(report[2]));
  EXPECT_EQ(versions, 1);
  EXPECT_NE(collector.err().find("mox-collect: summary connections=2 "), std::string::npos) << collector.err();
}

}  // namespace
