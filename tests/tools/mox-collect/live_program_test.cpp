// mox-collect --http as a program: the demo's requests reach the API while
// it collects, and the page is its only output unless another is asked for.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "http_client.h"
#include "program_runner.h"

namespace {

using nlohmann::json;

// The port of "live page at http://127.0.0.1:PORT/" on the program's standard error; 0 if not within 20 s.
uint16_t pagePortOf(const collecttest::Program& program) {
  std::smatch found;
  std::string err;
  const std::regex line("live page at http://127\\.0\\.0\\.1:(\\d+)/");
  if (!testsupport::waitUntil([&] { return std::regex_search(err = program.err(), found, line); })) return 0;
  return static_cast<uint16_t>(std::stoi(found[1]));
}

long busiestFinished(uint16_t port, const std::string& key) {
  const json tables = json::parse(collecttest::httpRequest(port, "/api/tables?rows=50").body, nullptr, false);
  if (tables.is_discarded()) return -1;
  for (const json& row : tables["busiest"]) {
    if (row["key"] == key) return row["finished"].get<long>();
  }
  return -1;
}

TEST(LiveProgram, ServesTheDemosCountsWhileCollectingAndWritesNothingElse) {
  testsupport::TempDir dir;
  collecttest::Program collector(dir, {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--http",
                                       "127.0.0.1:0", "--traces", "5", "--timeout", "120", "--quiet"});
  const uint16_t page = pagePortOf(collector);
  ASSERT_NE(page, 0) << collector.err();
  const std::string address = "127.0.0.1:" + std::to_string(collecttest::portOf(dir));
  collecttest::Program demo(dir, {"--collector", address, "--seconds", "2", "--logdir", dir.path()}, MOX_DEMO_BIN,
                            "demo-");
  ASSERT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  std::smatch ran;
  const std::string report = demo.out();
  ASSERT_TRUE(std::regex_search(report, ran, std::regex("ran (\\d+) requests"))) << report;
  const long requests = std::stol(ran[1]);
  EXPECT_TRUE(testsupport::waitUntil([&] { return busiestFinished(page, "OrderService|placeOrder") == requests; }))
      << busiestFinished(page, "OrderService|placeOrder") << " of " << requests;
  const json traces = json::parse(collecttest::httpRequest(page, "/api/traces").body);
  EXPECT_EQ(traces["capacity"], 5);
  EXPECT_EQ(traces["traces"].size(), 5u);  // the demo traces every 10th request
  collector.signal(SIGTERM);
  EXPECT_EQ(collector.exitCode(), 0) << collector.err();
  EXPECT_EQ(collector.out(), "");
}

}  // namespace
