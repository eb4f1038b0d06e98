// mox-collect --prometheus scraped by a real Prometheus server that loads the
// shipped rules: what a host reports through the library is what Prometheus's
// query API answers, and the collector's exposition passes promtool's check.
#include <gtest/gtest.h>
#include <mox.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "support/test_files.h"
#include "tools/prometheus/http_get.h"
#include "tools/prometheus/server_process.h"

namespace {

using promtest::httpGet;
using promtest::ServerProcess;
using testsupport::TempDir;
using testsupport::waitUntil;

constexpr int kCallsFirst = 30, kCallsSecond = 7;  // two intervals: the counter adds them up
constexpr int kCalls = kCallsFirst + kCallsSecond;
constexpr int64_t kPoolValue = 42;
constexpr auto kServerStart = std::chrono::seconds(30);
constexpr auto kQueryWait = std::chrono::seconds(60);
constexpr int kPortAttempts = 5;  // a port found free may be taken before the server binds it

struct Server {
  std::unique_ptr<ServerProcess> process;
  uint16_t port = 0;
};

// Starts a server on a free port, trying another when it exits (the port was
// taken meanwhile); ready(port) says when it serves.
template <typename Args, typename Ready>
Server startOnFreePort(const std::string& name, const TempDir& dir, Args args, Ready ready) {
  Server server;
  std::string failures;
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    server.port = promtest::freeLoopbackPort();
    server.process = std::make_unique<ServerProcess>(args(server.port), dir.file(name));
    const bool answered = waitUntil([&] { return !server.process->running() || ready(server.port); }, kServerStart);
    const bool exited = !server.process->running();
    if (answered && !exited) return server;
    server.process->stop();
    failures += "port " + std::to_string(server.port) + ":\n" + server.process->output() + "\n";
    if (!exited) break;  // it did not fail on its port, but did not answer either
  }
  ADD_FAILURE() << name << " did not start:\n" << failures;
  server.process.reset();
  return server;
}

bool serves(uint16_t port, const std::string& target) { return httpGet(port, target).status == 200; }

std::string prometheusConfig(uint16_t metricsPort) {
  const std::string rules = MOX_PROMETHEUS_RULES_DIR;
  return "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
         "rule_files: ['" +
         rules + "/mox.rules.yml', '" + rules +
         "/thresholds.yml']\n"
         "scrape_configs:\n"
         "  - job_name: mox-collect\n"
         "    honor_labels: true\n"
         "    static_configs: [{targets: ['127.0.0.1:" +
         std::to_string(metricsPort) + "']}]\n";
}

// The value of the only series an instant query answers, with the answer for
// a failure message.
struct QueryAnswer {
  std::optional<std::string> value;
  nlohmann::json metric;
  std::string text;
};

QueryAnswer query(uint16_t prometheusPort, const std::string& expression) {
  QueryAnswer answer;
  answer.text = httpGet(prometheusPort, "/api/v1/query?query=" + promtest::urlEncoded(expression)).body;
  const auto json = nlohmann::json::parse(answer.text, nullptr, false);
  if (json.is_discarded() || !json.contains("data")) return answer;
  const auto& result = json["data"]["result"];
  if (result.size() != 1) return answer;
  answer.metric = result[0]["metric"];
  answer.value = result[0]["value"][1].get<std::string>();
  return answer;
}

void startHost(uint16_t collectorPort, const TempDir& dir) {
  const std::string portText = std::to_string(collectorPort);
  const std::u16string port(portText.begin(), portText.end());
  const std::u16string logdir = dir.path16();
  const mox_char* const pairs[] = {u"datasending_method", u"socket",    u"agent_host", u"127.0.0.1",
                                   u"agent_port",         port.c_str(), u"logdir",     logdir.c_str()};
  MOX_ProcInitWithParam(u"prom-e2e", 0, 4, pairs);
}

// Whether promtool accepts an exposition; its complaints otherwise.
testing::AssertionResult promtoolAccepts(const std::string& promtool, const TempDir& dir, const std::string& body) {
  std::ofstream(dir.file("metrics.txt")) << body;
  const std::string check =
      promtool + " check metrics <" + dir.file("metrics.txt") + " >" + dir.file("check.txt") + " 2>&1";
  if (std::system(check.c_str()) == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << testsupport::readFile(dir.file("check.txt")) << "\nexposition:\n"
                                     << body.substr(0, 4000);
}

class PrometheusEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    prometheus_ = promtest::findInPath("prometheus");
    promtool_ = promtest::findInPath("promtool");
    if (prometheus_.empty() || promtool_.empty()) {
      GTEST_SKIP() << "no prometheus or promtool in PATH (Debian package prometheus); CI installs it";
    }
  }
  void TearDown() override { MOX_ProcExit(); }

  Server startCollector() {
    return startOnFreePort(
        "collector", dir_,
        [&](uint16_t port) {
          std::remove(dir_.file("port").c_str());
          return std::vector<std::string>{MOX_COLLECT_BIN,
                                          "--listen",
                                          "127.0.0.1:0",
                                          "--port-file",
                                          dir_.file("port"),
                                          "--prometheus",
                                          "127.0.0.1:" + std::to_string(port),
                                          "--out",
                                          dir_.file("out"),
                                          "--quiet"};
        },
        [&](uint16_t port) { return !testsupport::readFile(dir_.file("port")).empty() && serves(port, "/metrics"); });
  }

  Server startPrometheus(uint16_t metricsPort) {
    std::ofstream(dir_.file("prometheus.yml")) << prometheusConfig(metricsPort);
    return startOnFreePort(
        "prometheus", dir_,
        [&](uint16_t port) {
          return std::vector<std::string>{prometheus_, "--config.file=" + dir_.file("prometheus.yml"),
                                          "--storage.tsdb.path=" + dir_.file("tsdb"),
                                          "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"};
        },
        [&](uint16_t port) { return serves(port, "/-/ready"); });
  }

  TempDir dir_;
  std::string prometheus_, promtool_;
};

TEST_F(PrometheusEndToEnd, HostCallsAndResourceReachPrometheusThroughTheCollector) {
  // Both servers start before the library, whose threads a fork would not copy.
  Server collector = startCollector();
  ASSERT_TRUE(collector.process) << "mox-collect --prometheus did not start";
  Server prometheus = startPrometheus(collector.port);
  ASSERT_TRUE(prometheus.process) << "prometheus did not start";
  const uint16_t collectorPort = static_cast<uint16_t>(std::stoi(testsupport::readFile(dir_.file("port"))));

  startHost(collectorPort, dir_);
  for (int i = 0; i < kCallsFirst; ++i) MOX_endTiming(MOX_startTiming(u"Shop", u"checkout", 1));
  MOX_outputMetricData();
  for (int i = 0; i < kCallsSecond; ++i) MOX_endTiming(MOX_startTiming(u"Shop", u"checkout", 1));
  MOX_reportResource(u"Pool", kPoolValue, kPoolValue + 8, kPoolValue - 32, 1, 0);
  MOX_outputMetricData();

  const std::string calls = "mox_finished_calls_total{component=\"Shop\",method=\"checkout\"}";
  const std::string pool = "mox_resource_value{resource=\"Pool\"}";
  const std::string reporting = "mox:process_reporting{process=\"prom-e2e\"}";
  QueryAnswer lastCalls, lastPool, lastReporting;
  const bool arrived = waitUntil(
      [&] {
        lastCalls = query(prometheus.port, calls);
        lastPool = query(prometheus.port, pool);
        lastReporting = query(prometheus.port, reporting);
        const bool done = lastCalls.value == std::to_string(kCalls) && lastPool.value == std::to_string(kPoolValue) &&
                          lastReporting.value == "1";
        if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(200));  // Prometheus scrapes each second
        return done;
      },
      kQueryWait);
  ASSERT_TRUE(arrived) << "last answers:\n"
                       << calls << " -> " << lastCalls.text << "\n"
                       << pool << " -> " << lastPool.text << "\n"
                       << reporting << " -> " << lastReporting.text << "\ncollector:\n"
                       << collector.process->output() << "\nprometheus:\n"
                       << prometheus.process->output();
  // honor_labels keeps the library's instance rather than the scrape target's.
  EXPECT_EQ(lastCalls.metric.value("process", ""), "prom-e2e");
  EXPECT_EQ(lastCalls.metric.value("instance", ""), "0");
  EXPECT_EQ(lastCalls.metric.value("system", ""), "VEL_MOX");

  const auto scrape = httpGet(collector.port, "/metrics");
  ASSERT_EQ(scrape.status, 200);
  EXPECT_TRUE(promtoolAccepts(promtool_, dir_, scrape.body));

  MOX_ProcExit();
  prometheus.process->stop();
  collector.process->stop();
  EXPECT_FALSE(prometheus.process->running());
  EXPECT_FALSE(collector.process->running());
}

// Every kind of series the demo makes: timing keys, resources, a KPI, the version.
bool holdsDemoSeries(const std::string& exposition) {
  for (const char* series : {"mox_finished_calls_total{", "component=\"OrderService\",method=\"placeOrder\"",
                             "component=\"Reports\"", "mox_resource_value{", "resource=\"Open Requests\"", "mox_kpi{",
                             "kpi=\"Abandoned Queries\"", "mox_library_info{"}) {
    if (exposition.find(series) == std::string::npos) return false;
  }
  return exposition.find("process=\"mox-demo\"") != std::string::npos;
}

TEST_F(PrometheusEndToEnd, PromtoolAcceptsTheExpositionOfADemoRun) {
  Server collector = startCollector();
  ASSERT_TRUE(collector.process) << "mox-collect --prometheus did not start";
  const std::string address = "127.0.0.1:" + std::to_string(std::stoi(testsupport::readFile(dir_.file("port"))));
  ServerProcess demo(
      {MOX_DEMO_BIN, "--collector", address, "--seconds", "2", "--threads", "2", "--logdir", dir_.path()},
      dir_.file("demo"));

  std::string exposition;
  const bool complete = waitUntil(
      [&] {
        const auto scrape = httpGet(collector.port, "/metrics");
        exposition = scrape.body;
        const bool done = scrape.status == 200 && holdsDemoSeries(exposition);
        if (!done)
          std::this_thread::sleep_for(std::chrono::milliseconds(100));  // between scrapes, not a wait for a result
        return done;
      },
      kQueryWait);
  ASSERT_TRUE(complete) << "last scrape:\n"
                        << exposition.substr(0, 4000) << "\ndemo:\n"
                        << demo.output() << "\ncollector:\n"
                        << collector.process->output();
  EXPECT_TRUE(promtoolAccepts(promtool_, dir_, exposition));
  EXPECT_TRUE(waitUntil([&] { return !demo.running(); }, kQueryWait)) << demo.output();
  collector.process->stop();
}

}  // namespace
