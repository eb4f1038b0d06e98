#include <gtest/gtest.h>

#include <thread>

#include "collector_support.h"
#include "support/test_files.h"

namespace {

using collecttest::Client;
using collecttest::RunningCollector;
using collecttest::sampleStream;
using testsupport::waitUntil;

const std::string kLine = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />";

// The raw records of one "process_instance", in arrival order.
std::vector<std::string> rawsOf(const RunningCollector& collector, const std::string& process) {
  std::vector<std::string> raws;
  for (const auto& r : collector.records())
    if (r.identity.process + "_" + r.identity.instance == process) raws.push_back(r.raw);
  return raws;
}

TEST(Collector, ReceivesConcurrentConnectionsWhileOneStallsMidElementAndReadsWhatWasSentWhenStopped) {
  RunningCollector collector;
  // The stalled peer: its version line, then half a metric line, then nothing.
  const std::string stalledStream = sampleStream("stalled_9");
  const size_t cut = stalledStream.find('\n') + 40;
  Client stalled(collector.port());
  ASSERT_TRUE(stalled.send(stalledStream.substr(0, cut)));

  constexpr int kPeers = 4;
  size_t bytes = stalledStream.size();
  std::vector<std::thread> peers;
  for (int i = 0; i < kPeers; ++i) {
    bytes += sampleStream("app_" + std::to_string(i)).size();
    peers.emplace_back([&, i] { Client(collector.port()).send(sampleStream("app_" + std::to_string(i)), 3 + i * 5u); });
  }
  for (auto& peer : peers) peer.join();
  ASSERT_TRUE(waitUntil([&] { return collector.size() == kPeers * 8 + 1; }));
  for (const std::string process : {"app_0", "app_1", "app_2", "app_3"}) {
    EXPECT_EQ(rawsOf(collector, process), collecttest::linesOf(sampleStream(process)));  // trace too
  }
  ASSERT_EQ(rawsOf(collector, "stalled_9").size(), 1u);

  // The stalled peer goes on: its cut element arrives whole, once.
  ASSERT_TRUE(stalled.send(stalledStream.substr(cut)));
  ASSERT_TRUE(waitUntil([&] { return rawsOf(collector, "stalled_9").size() == 8; }));
  EXPECT_EQ(rawsOf(collector, "stalled_9"), collecttest::linesOf(stalledStream));

  // Sent right before the stop: read all the same, the malformed element reported, the cut one counted.
  const std::string last = kLine + "\n<event resource=\"A & B\"></event>\n" + kLine + "\n<metric name=\"S|p_1|A|b:Fin";
  bytes += last.size();
  ASSERT_TRUE(Client(collector.port()).send(last));
  collector.stop();
  EXPECT_EQ(rawsOf(collector, "p_1"), std::vector<std::string>(2, kLine));
  const std::string summary = "summary connections=6 metrics=32 versions=5 traces=5 other=0 malformed=1 truncated=1";
  EXPECT_EQ(collector.stats().summary(), summary + " bytes=" + std::to_string(bytes));
  const std::string log = collector.log();
  EXPECT_NE(log.find("connection 6: dropped an element (not well-formed (invalid token)): <event resource=\"A & B\">"
                     "</event>\\x0a<metric"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("connection 6 closed after 2 records"), std::string::npos);
}

TEST(Collector, NamesATraceConnectionByItsAddressRefusesConnectionsBeyondTheLimitAndStopsAtTheRecordLimit) {
  moxcollect::CollectorSettings settings;
  settings.maxConnections = 2;
  settings.recordLimit = 6;
  RunningCollector collector(settings);
  Client metrics(collector.port()), traces(collector.port());
  const auto received = [&](Client& client, const std::string& text) {
    const size_t before = collector.size();
    return client.send(text + "\n") && waitUntil([&] { return collector.size() == before + 1; });
  };
  const std::string trace = "<event resource=\"A|b\" startTime=\"t\" duration=\"1\"></event>";
  ASSERT_TRUE(received(metrics, kLine));
  ASSERT_TRUE(received(traces, trace));  // no version line: the only process seen at 127.0.0.1
  EXPECT_EQ(collector.records().back().identity, (moxcollect::Identity{"S", "p", "1"}));
  Client refused(collector.port());
  ASSERT_TRUE(received(metrics, "<metric type=\"IntAverage\" name=\"S|q_2|A|b:Finished Counter\" value=\"1\" />"));
  ASSERT_TRUE(received(traces, trace));
  EXPECT_FALSE(collector.records().back().identity.known());  // two processes there: no guess
  ASSERT_TRUE(metrics.send(sampleStream()));
  ASSERT_TRUE(collector.endsByItself());
  EXPECT_EQ(collector.size(), 6u);  // the rest of the same chunk is not passed on
  EXPECT_NE(collector.log().find("mox-collect: refusing 127.0.0.1:"), std::string::npos);
  EXPECT_EQ(collector.stats().connections, 2u);
}

}  // namespace
