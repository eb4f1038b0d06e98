// The live page's server over real loopback sockets: the JSON API, what it
// refuses, its headers on every answer, its request limit, readers on
// civetweb's threads while the sink writer feeds the state, and the program
// serving the demo's counts while it collects.
#include <civetweb.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "collector_support.h"
#include "http_server.h"
#include "json_sink.h"
#include "live_page.h"
#include "live_sink.h"
#include "page_assets.h"
#include "program_runner.h"

namespace {

using moxcollect::HttpServer;
using moxcollect::LivePage;
using moxcollect::LiveSink;
using moxcollect::RateLimiter;
using nlohmann::json;

// A blocking request on civetweb's client side, one per connection: the reply's status, headers and body.
struct HttpReply {
  int status = 0;  // 0: no reply
  std::map<std::string, std::string> headers;
  std::string body, error;
};

HttpReply httpRequest(uint16_t port, const std::string& target, const std::string& method = "GET") {
  HttpReply reply;
  char error[256] = "";
  mg_connection* connection =
      mg_download("127.0.0.1", port, 0, error, sizeof error,
                  "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", method.c_str(), target.c_str());
  if (connection == nullptr) {
    reply.error = error;
    return reply;
  }
  const mg_response_info* info = mg_get_response_info(connection);
  reply.status = info->status_code;
  for (int i = 0; i < info->num_headers; ++i) reply.headers[info->http_headers[i].name] = info->http_headers[i].value;
  char buffer[16384];
  for (int n; (n = mg_read(connection, buffer, sizeof buffer)) > 0;) reply.body.append(buffer, static_cast<size_t>(n));
  mg_close_connection(connection);
  return reply;
}

// A page over its own sink, listening on a free loopback port.
struct ServedPage {
  explicit ServedPage(size_t traces = 10, double perSecond = RateLimiter::kDefaultPerSecond,
                      double burst = RateLimiter::kDefaultBurst)
      : sink(traces),
        page(sink, traces),
        limiter(perSecond, burst),
        server([this](const moxcollect::HttpRequest& r) { return page.handle(r); }, limiter) {
    std::string error;
    EXPECT_TRUE(server.start({"127.0.0.1", 0}, error)) << error;
  }
  LiveSink sink;
  LivePage page;
  RateLimiter limiter;
  HttpServer server;
};

void expectSecurityHeaders(const HttpReply& reply) {
  for (const auto& [name, value] : moxcollect::securityHeaders()) {
    const auto found = reply.headers.find(name);
    ASSERT_NE(found, reply.headers.end()) << name << " missing on " << reply.status;
    EXPECT_EQ(found->second, value);
  }
}

TEST(LiveHttp, ServesTheTablesAndTracesAsJsonAndRefusesWhatItDoesNotServe) {
  ServedPage served;
  // A trace takes its process from the version line before it, as in the collector.
  const std::string stream = collecttest::sampleStream("disp_3") + collecttest::sampleStream("other_4");
  for (const auto& record : collecttest::connectionRecordsOf(stream)) served.sink.write(record);
  const uint16_t port = served.server.port();

  const auto tables = httpRequest(port, "/api/tables?process=disp_3&rows=5");
  ASSERT_EQ(tables.status, 200) << tables.error;
  EXPECT_EQ(tables.headers.at("Content-Type"), "application/json");
  expectSecurityHeaders(tables);
  const json t = json::parse(tables.body);
  EXPECT_EQ(t["processes"], json({"disp_3", "other_4"}));
  ASSERT_EQ(t["busiest"].size(), 2u);
  EXPECT_EQ(t["busiest"][0]["process"], "disp_3");
  EXPECT_EQ(t["busiest"][0]["key"], "Order|create");
  EXPECT_EQ(t["busiest"][0]["finished"], 14);
  EXPECT_EQ(t["slowest_by_average"][0]["average"], 37);

  const auto list = httpRequest(port, "/api/traces?process=other_4");
  ASSERT_EQ(list.status, 200);
  const json traces = json::parse(list.body)["traces"];
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0]["id"], 2);
  EXPECT_EQ(traces[0]["passport"], "0123ABCD*1000");
  EXPECT_EQ(traces[0]["duration"], 57);

  // One trace is --json's object with its id first.
  const auto one = httpRequest(port, "/api/traces/2");
  ASSERT_EQ(one.status, 200);
  json expected = json::parse(moxcollect::recordJson(collecttest::recordsOf(collecttest::sampleStream()).back()));
  json got = json::parse(one.body);
  EXPECT_EQ(got["id"], 2);
  EXPECT_EQ(got["calls"], expected["calls"]);
  EXPECT_EQ(got["params"], expected["params"]);

  // The page and its two files, all of it built into the program.
  const auto page = httpRequest(port, "/?process=disp_3&trace=1");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.headers.at("Content-Type"), "text/html; charset=utf-8");
  expectSecurityHeaders(page);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "<h2>Trace 1: Order|create</h2>", page.body);
  const auto script = httpRequest(port, "/page.js");
  EXPECT_EQ(script.headers.at("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(script.body, moxcollect::pageScript());
  EXPECT_EQ(httpRequest(port, "/page.css").body, moxcollect::pageStyle());

  for (const char* target : {"/api/traces/3", "/api/traces/x", "/api/traces/", "/elsewhere", "/api/tables/"}) {
    const auto missing = httpRequest(port, target);
    EXPECT_EQ(missing.status, 404) << target;
    expectSecurityHeaders(missing);
  }
  for (const char* target :
       {"/api/tables?rows=0", "/api/tables?rows=1001", "/api/tables?rows=x", "/api/traces?limit=11"}) {
    EXPECT_EQ(httpRequest(port, target).status, 400) << target;
  }
  for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
    const auto refused = httpRequest(port, "/api/tables", method);
    EXPECT_EQ(refused.status, 405) << method;
    EXPECT_EQ(refused.headers.at("Allow"), "GET, HEAD");
    expectSecurityHeaders(refused);
  }
}

TEST(LiveHttp, AnswersMalformedAndOversizedRequestsWithItsHeadersAndServesOn) {
  ServedPage served;
  const uint16_t port = served.server.port();
  const std::string oversized =
      "GET /api/tables HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(HttpServer::kMaxRequestBytes, 'a') + "\r\n\r\n";
  const std::string body = "GET /api/tables HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello";
  for (const std::string& request : {std::string("NONSENSE\r\n\r\n"), oversized, body}) {
    collecttest::Client client(port);
    ASSERT_TRUE(client.send(request));
    const std::string reply = client.receiveAll();
    EXPECT_EQ(reply.rfind("HTTP/1.", 0), 0u) << reply.substr(0, 200);
    EXPECT_EQ(reply.find(" 200 "), std::string::npos) << reply.substr(0, 200);
    EXPECT_NE(reply.find("Content-Security-Policy: default-src 'none'; script-src 'self';"), std::string::npos)
        << reply.substr(0, 400);
  }
  EXPECT_EQ(httpRequest(port, "/api/tables").status, 200);
}

TEST(LiveHttp, LimitsRequestsPerAddress) {
  ServedPage served(10, 0.001, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(httpRequest(served.server.port(), "/api/tables").status, 200);
  const auto limited = httpRequest(served.server.port(), "/api/tables");
  EXPECT_EQ(limited.status, 429);
  EXPECT_EQ(limited.headers.at("Retry-After"), "1");
  expectSecurityHeaders(limited);
}

TEST(LiveHttp, ReadersSeeWholeTracesWhileTheWriterFillsTheRing) {
  constexpr int kTraces = 300;
  ServedPage served(20, 1e6, 1e6);
  const auto records = collecttest::recordsOf(collecttest::sampleStream());
  std::thread writer([&] {
    for (int i = 0; i < kTraces; ++i) served.sink.write(i % 2 ? records.back() : records[1]);
  });
  const auto reader = [&] {
    uint64_t seen = 0;
    for (int i = 0; i < 40; ++i) {
      const json list = json::parse(httpRequest(served.server.port(), "/api/traces").body, nullptr, false);
      ASSERT_FALSE(list.is_discarded());
      if (list["traces"].empty()) continue;
      const uint64_t newest = list["traces"][0]["id"];
      EXPECT_GE(newest, seen);
      EXPECT_LE(list["traces"].size(), 20u);
      seen = newest;
      const auto one = httpRequest(served.server.port(), "/api/traces/" + std::to_string(newest));
      if (one.status == 404) continue;  // pushed out meanwhile
      const json trace = json::parse(one.body, nullptr, false);
      ASSERT_FALSE(trace.is_discarded());
      EXPECT_EQ(trace["calls"][0]["resource"], "Db|select");
    }
  };
  std::thread first(reader);
  reader();
  first.join();
  writer.join();
  const json tables = json::parse(httpRequest(served.server.port(), "/api/tables").body);
  EXPECT_EQ(tables["totals"]["traces"], kTraces / 2);
  EXPECT_EQ(tables["busiest"][0]["finished"], 14 * kTraces / 2);
}

// The port of "live page at http://127.0.0.1:PORT/" on the program's standard error; 0 if not within 20 s.
uint16_t pagePortOf(const collecttest::Program& program) {
  std::smatch found;
  std::string err;
  const std::regex line("live page at http://127\\.0\\.0\\.1:(\\d+)/");
  if (!testsupport::waitUntil([&] { return std::regex_search(err = program.err(), found, line); })) return 0;
  return static_cast<uint16_t>(std::stoi(found[1]));
}

long busiestFinished(uint16_t port, const std::string& key) {
  const json tables = json::parse(httpRequest(port, "/api/tables?rows=50").body, nullptr, false);
  if (tables.is_discarded()) return -1;
  for (const json& row : tables["busiest"]) {
    if (row["key"] == key) return row["finished"].get<long>();
  }
  return -1;
}

TEST(LiveProgram, ServesTheDemosCountsWhileCollectingAndWritesNothingElse) {
  testsupport::TempDir dir;
  collecttest::Program collector(
      dir, collecttest::listening(dir, {"--http", "127.0.0.1:0", "--traces", "5", "--timeout", "120", "--quiet"}));
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
  const json traces = json::parse(httpRequest(page, "/api/traces").body);
  EXPECT_EQ(traces["capacity"], 5);
  EXPECT_EQ(traces["traces"].size(), 5u);  // the demo traces every 10th request
  collector.signal(SIGTERM);
  EXPECT_EQ(collector.exitCode(), 0) << collector.err();
  EXPECT_EQ(collector.out(), "");
}

}  // namespace
