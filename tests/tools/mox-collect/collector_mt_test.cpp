#include <gtest/gtest.h>

#include <thread>

#include "collector_support.h"
#include "support/test_files.h"

namespace {

using collecttest::Client;
using collecttest::RunningCollector;
using collecttest::sampleStream;
using testsupport::waitUntil;

const std::string kLine = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />\n";

// The raw records of one "process_instance", in arrival order.
std::vector<std::string> rawsOf(const RunningCollector& collector, const std::string& process) {
  std::vector<std::string> raws;
  for (const auto& r : collector.records()) {
    if (r.identity.process + "_" + r.identity.instance == process) raws.push_back(r.raw);
  }
  return raws;
}

TEST(Collector, ReceivesConcurrentConnectionsWhileOneStallsMidElement) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());
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
  collector.stop();
  EXPECT_EQ(collector.stats().summary(),
            "summary connections=5 metrics=30 versions=5 traces=5 other=0 malformed=0 "
            "truncated=0 bytes=" +
                std::to_string(bytes));
}

TEST(Collector, StopReadsWhatWasSentReportsTheMalformedAndCountsTheUnfinished) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());
  Client client(collector.port());
  ASSERT_TRUE(client.send(kLine + "<event resource=\"A & B\"></event>\n" + kLine + "<metric name=\"S|p_1|A|b:Fin"));
  collector.stop();  // right after send(): the bytes wait in the collector's socket
  EXPECT_EQ(collector.size(), 2u);
  EXPECT_EQ(collector.stats().malformed, 1u);
  EXPECT_EQ(collector.stats().truncated, 1u);
  EXPECT_NE(collector.log().find("connection 1: dropped an element (not well-formed (invalid token)): "
                                 "<event resource=\"A & B\"></event>\\x0a<metric"),
            std::string::npos)
      << collector.log();
  EXPECT_NE(collector.log().find("connection 1 closed after 2 records"), std::string::npos);
}

TEST(Collector, TraceConnectionWithoutVersionLineTakesTheOnlyProcessOfItsAddress) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());
  std::vector<std::unique_ptr<Client>> clients;  // each on its own connection, kept open
  const auto identityOf = [&](const std::string& text) {
    clients.push_back(std::make_unique<Client>(collector.port()));
    const size_t before = collector.size();
    EXPECT_TRUE(clients.back()->send(text) && waitUntil([&] { return collector.size() == before + 1; }));
    return collector.records().back().identity;
  };
  const std::string trace = "<event resource=\"A|b\" startTime=\"t\" duration=\"1\"></event>\n";
  identityOf(kLine);
  EXPECT_EQ(identityOf(trace), (moxcollect::Identity{"S", "p", "1"}));
  identityOf("<metric type=\"IntAverage\" name=\"S|q_2|A|b:Finished Counter\" value=\"1\" />\n");
  EXPECT_FALSE(identityOf(trace).known());  // two processes on 127.0.0.1: no guess
}

TEST(Collector, StopsByItselfAtTheRecordLimit) {
  moxcollect::CollectorSettings settings;
  settings.recordLimit = 3;
  RunningCollector collector(settings);
  ASSERT_TRUE(collector.start());
  Client client(collector.port());
  ASSERT_TRUE(client.send(sampleStream()));
  ASSERT_TRUE(collector.endsByItself());
  EXPECT_EQ(collector.size(), 3u);  // the rest of the same chunk is not passed on
}

TEST(Collector, RefusesConnectionsBeyondTheLimitAndStopsWhenTheLastOneCloses) {
  moxcollect::CollectorSettings settings;
  settings.maxConnections = 1;
  settings.stopWhenIdle = true;
  RunningCollector collector(settings);
  ASSERT_TRUE(collector.start());
  Client first(collector.port());
  ASSERT_TRUE(first.send(kLine));
  ASSERT_TRUE(waitUntil([&] { return collector.size() == 1; }));
  Client second(collector.port());  // connected before the first one closes, so it is refused
  ASSERT_TRUE(first.send(kLine));
  first.close();
  ASSERT_TRUE(collector.endsByItself());
  EXPECT_EQ(collector.size(), 2u);
  EXPECT_NE(collector.log().find("mox-collect: refusing 127.0.0.1:"), std::string::npos);
  EXPECT_EQ(collector.stats().connections, 1u);
}

TEST(Collector, ListensOnIpv6Loopback) {
  RunningCollector collector({}, "::1");
  if (!collector.start()) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_TRUE(Client(collector.port(), true).send(sampleStream()));
  ASSERT_TRUE(waitUntil([&] { return collector.size() == 8; }));
  EXPECT_EQ(collector.records().front().peer.rfind("[::1]:", 0), 0u);
}

}  // namespace
