// The Prometheus sink served over real HTTP: /metrics on a free port (IPv4
// and IPv6), a port in use refused, and scrapes that arrive in the middle of
// an interval seeing only whole ones.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "prometheus_support.h"
#include "support/tcp_listener.h"
#include "support/test_files.h"

namespace {

using collecttest::FedSink;
using moxcollect::Endpoint;
using moxcollect::PrometheusSink;

// The whole response to "GET path" on the loopback address of family; empty when the server did not answer.
std::string httpGet(int family, uint16_t port, const std::string& path = "/metrics") {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address;
  const socklen_t size = testsupport::loopbackAddress(family, port, address);
  std::string response;
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char buffer[65536];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 10000) == 1) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      response.append(buffer, static_cast<size_t>(got));
    }
  }
  if (fd >= 0) close(fd);
  return response;
}

std::string body(const std::string& response) {
  const size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string finishedLines(int keys, int value) {
  std::string text;
  for (int key = 0; key < keys; ++key) {
    text += "<metric type=\"IntAverage\" name=\"S|p_1|A|k" + std::to_string(key) + ":Finished Counter\" value=\"" +
            std::to_string(value) + "\" />\n";
  }
  return text;
}

TEST(PrometheusServing, ServesMetricsOverHttpOnAFreePortAndRefusesAPortInUse) {
  FedSink fed;
  std::string error;
  ASSERT_TRUE(fed.sink.serve(Endpoint{"127.0.0.1", 0}, error)) << error;
  ASSERT_NE(fed.sink.port(), 0);
  fed.send(finishedLines(2, 5) + R"(<metric type="StringEvent" name="S|p_1:MOX library version" value="2.3.6" />)");
  fed.settle();
  const std::string response = httpGet(AF_INET, fed.sink.port());
  EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << response;
  EXPECT_EQ(collecttest::samplesOf(body(response), "mox_finished"),
            (std::map<std::string, double>{
                {R"(mox_finished_calls_total{system="S",process="p",instance="1",component="A",method="k0"})", 5},
                {R"(mox_finished_calls_total{system="S",process="p",instance="1",component="A",method="k1"})", 5}}));
  EXPECT_NE(body(response).find("\nmox_library_info{system=\"S\",process=\"p\",instance=\"1\",version=\"2.3.6\"} 1\n"),
            std::string::npos);

  PrometheusSink second;
  EXPECT_FALSE(second.serve(Endpoint{"127.0.0.1", fed.sink.port()}, error));
  EXPECT_NE(error.find("cannot serve Prometheus metrics on 127.0.0.1:" + std::to_string(fed.sink.port())),
            std::string::npos)
      << error;
  PrometheusSink unresolved;
  EXPECT_FALSE(unresolved.serve(Endpoint{"no-such-host.invalid", 0}, error));
  EXPECT_NE(error.find("cannot resolve no-such-host.invalid"), std::string::npos) << error;
}

TEST(PrometheusServing, ServesOnIpv6WhereTheHttpServerHasIt) {
  if (!testsupport::loopbackV6Available()) GTEST_SKIP() << "no IPv6 loopback";
  std::string error;
  PrometheusSink v6;
  if (!v6.serve(Endpoint{"::1", 0}, error)) {
    EXPECT_NE(error.find("built without IPv6"), std::string::npos) << error;
    GTEST_SKIP() << error;
  }
  EXPECT_NE(body(httpGet(AF_INET6, v6.port())).find("\nmox_collect_series 0\n"), std::string::npos);
}

TEST(PrometheusServing, ScrapesInTheMiddleOfAnIntervalSeeOnlyWholeIntervals) {
  constexpr int kKeys = 40;
  constexpr int kIntervals = 25;
  FedSink fed;
  std::string error;
  ASSERT_TRUE(fed.sink.serve(Endpoint{"127.0.0.1", 0}, error)) << error;
  std::atomic<int> scrapes{0};
  std::atomic<bool> written{false};
  // The writer stops halfway through each interval until a scrape has ended meanwhile.
  std::thread writer([&] {
    const std::string half = finishedLines(kKeys / 2, 1);
    const std::string all = finishedLines(kKeys, 1);
    const std::string rest = all.substr(half.size());
    for (int i = 0; i < kIntervals; ++i) {
      fed.send(half);
      const int seen = scrapes;
      testsupport::waitUntil([&] { return scrapes > seen + 1; });
      fed.send(rest);
    }
    written = true;
  });
  std::vector<std::string> broken;
  while (!written) {
    const auto samples = collecttest::samplesOf(body(httpGet(AF_INET, fed.sink.port())), "mox_finished");
    ++scrapes;
    std::set<double> values;
    for (const auto& sample : samples) values.insert(sample.second);
    if (values.size() > 1 || (!samples.empty() && samples.size() != kKeys)) {
      broken.push_back(std::to_string(samples.size()) + " keys, " + std::to_string(values.size()) + " values");
    }
  }
  writer.join();
  fed.sink.finish();
  EXPECT_TRUE(broken.empty()) << broken.front();
  EXPECT_GE(scrapes, 2 * kIntervals);
  const auto last = collecttest::samplesOf(fed.sink.exposition(), "mox_finished");
  ASSERT_EQ(last.size(), static_cast<size_t>(kKeys));
  EXPECT_EQ(last.begin()->second, kIntervals);
}

}  // namespace
