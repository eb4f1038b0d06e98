// The demo host streams to mox-collect over real TCP: what the collector
// parsed matches what the demo says it did.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>

#include "program_runner.h"
#include "support/test_files.h"

namespace {

using collecttest::Program;
using testsupport::TempDir;

struct DemoReport {
  long requests = -1;
  long traced = -1;
};

// "mox-demo: 2 threads ran 311 requests in 3 s (32 with a trace passport, ...)"
DemoReport parseDemoReport(const std::string& out) {
  std::smatch m;
  DemoReport report;
  if (std::regex_search(out, m, std::regex(R"(ran (\d+) requests .*\((\d+) with a trace passport)"))) {
    report.requests = std::stol(m[1]);
    report.traced = std::stol(m[2]);
  }
  return report;
}

TEST(DemoToCollector, CollectorParsesEveryRequestAndTraceTheDemoSent) {
  TempDir dir;
  Program collector(
      dir, {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--once", "--timeout", "120", "--quiet"},
      MOX_COLLECT_BIN, "collect-");
  ASSERT_TRUE(testsupport::waitUntil([&] { return !testsupport::readFile(dir.file("port")).empty(); }));
  std::string port = testsupport::readFile(dir.file("port"));
  port.erase(port.find_last_not_of("\r\n") + 1);

  Program demo(dir, {"--collector", "127.0.0.1:" + port, "--seconds", "3", "--threads", "2", "--logdir", dir.path()},
               MOX_DEMO_BIN, "demo-");
  ASSERT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  const DemoReport report = parseDemoReport(demo.out());
  ASSERT_GT(report.requests, 0) << demo.out();
  ASSERT_EQ(collector.exitCode(std::chrono::seconds(60)), 0) << collector.err();

  long finished = 0, traces = 0, versions = 0;
  std::istringstream lines(collector.out());
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json record = nlohmann::json::parse(line);
    const std::string kind = record.at("kind");
    if (kind == "trace") ++traces;
    if (kind == "version") ++versions;
    if (kind == "metric" && record.at("key") == "OrderService|placeOrder" && record.at("label") == "Finished Counter") {
      finished += record.at("value").get<long>();
    }
  }
  EXPECT_EQ(finished, report.requests);
  EXPECT_EQ(traces, report.traced);
  EXPECT_EQ(versions, 1);
  EXPECT_NE(collector.err().find("mox-collect: summary connections=2 "), std::string::npos) << collector.err();
}

}  // namespace
