#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "collector.h"
#include "collector_support.h"
#include "sample_stream.h"
#include "support/test_files.h"

namespace {

using collecttest::Client;
using collecttest::RunningCollector;
using collecttest::sampleStream;
using moxcollect::Record;
using moxcollect::RecordKind;
using testsupport::waitUntil;

std::vector<std::string> rawsOf(const std::vector<Record>& records) {
  std::vector<std::string> raws;
  for (const auto& r : records) raws.push_back(r.raw);
  return raws;
}

std::vector<Record> ofProcess(const std::vector<Record>& records, const std::string& process) {
  std::vector<Record> out;
  for (const auto& r : records) {
    if (r.identity.process == process) out.push_back(r);
  }
  return out;
}

TEST(Collector, ReceivesConcurrentConnectionsWhileOneStallsMidElement) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());

  // The stalled peer: its version line, then half a metric line, then nothing.
  const std::string stalledStream = sampleStream("stalled_9");
  const size_t cut = stalledStream.find('\n') + 40;
  Client stalled(collector.port());
  ASSERT_TRUE(stalled.connected());
  ASSERT_TRUE(stalled.send(stalledStream.substr(0, cut)));

  constexpr int kPeers = 4;
  std::vector<std::thread> peers;
  for (int i = 0; i < kPeers; ++i) {
    peers.emplace_back([&, i] {
      Client client(collector.port());
      client.sendInPieces(sampleStream("app_" + std::to_string(i)), 3 + static_cast<size_t>(i) * 5);
    });
  }
  for (auto& peer : peers) peer.join();

  const size_t perStream = collecttest::splitChunks({sampleStream()}).raws.size();
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == kPeers * perStream + 1; }));
  const auto records = collector.sink.records();
  for (int i = 0; i < kPeers; ++i) {
    const std::string process = "app_" + std::to_string(i);
    const auto mine = ofProcess(records, "app");
    const auto expected = collecttest::splitChunks({sampleStream(process)}).raws;
    std::vector<std::string> got;
    for (const auto& r : mine) {
      if (r.identity.instance == std::to_string(i)) got.push_back(r.raw);
    }
    EXPECT_EQ(got, expected) << process;  // the trace too, named by its version line
  }
  ASSERT_EQ(ofProcess(records, "stalled").size(), 1u);

  // The stalled peer goes on: its cut element arrives whole, once.
  ASSERT_TRUE(stalled.send(stalledStream.substr(cut)));
  ASSERT_TRUE(waitUntil([&] { return ofProcess(collector.sink.records(), "stalled").size() == perStream; }));
  EXPECT_EQ(rawsOf(ofProcess(collector.sink.records(), "stalled")), collecttest::splitChunks({stalledStream}).raws);
  collector.stop();
  EXPECT_EQ(collector.stats().connections, kPeers + 1u);
  EXPECT_EQ(collector.stats().traces, kPeers + 1u);
  EXPECT_EQ(collector.stats().versions, kPeers + 1u);
  EXPECT_EQ(collector.stats().malformed, 0u);
  EXPECT_EQ(collector.stats().truncated, 0u);
  size_t bytes = stalledStream.size();
  for (int i = 0; i < kPeers; ++i) bytes += sampleStream("app_" + std::to_string(i)).size();
  EXPECT_EQ(collector.stats().bytes, bytes);
}

TEST(Collector, StopReadsWhatWasSentAndCountsTheUnfinishedElement) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());
  const std::string stream = sampleStream();
  Client client(collector.port());
  ASSERT_TRUE(client.send(stream + "<metric type=\"IntAverage\" name=\"VEL_MOX|disp_3|A|b:Fin"));
  collector.stop();  // right after send(): the bytes wait in the collector's socket
  EXPECT_EQ(rawsOf(collector.sink.records()), collecttest::splitChunks({stream}).raws);
  EXPECT_EQ(collector.stats().truncated, 1u);
  EXPECT_NE(collector.log().find("connection 1 closed after 10 records"), std::string::npos);
}

TEST(Collector, MalformedElementIsReportedAndTheConnectionGoesOn) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());
  Client client(collector.port());
  const std::string good = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />\n";
  ASSERT_TRUE(client.send(good + "<event resource=\"A & B\"></event>\n" + good));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 2; }));
  collector.stop();
  EXPECT_EQ(collector.stats().malformed, 1u);
  EXPECT_NE(collector.log().find("connection 1: dropped an element (not well-formed (invalid token)): "
                                 "<event resource=\"A & B\"></event>\\x0a<metric"),
            std::string::npos)
      << collector.log();
}

TEST(Collector, TraceConnectionWithoutVersionLineTakesTheOnlyProcessOfItsAddress) {
  RunningCollector collector;
  ASSERT_TRUE(collector.start());
  const std::string trace = "<event resource=\"A|b\" startTime=\"t\" duration=\"1\"></event>\n";
  auto metric = [](const std::string& process) {
    return "<metric type=\"IntAverage\" name=\"S|" + process + "|A|b:Finished Counter\" value=\"1\" />\n";
  };
  Client metricsA(collector.port());
  ASSERT_TRUE(metricsA.send(metric("a_1")));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 1; }));
  Client tracesA(collector.port());
  ASSERT_TRUE(tracesA.send(trace));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 2; }));
  EXPECT_EQ(collector.sink.records()[1].identity, (moxcollect::Identity{"S", "a", "1"}));

  Client metricsB(collector.port());
  ASSERT_TRUE(metricsB.send(metric("b_2")));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 3; }));
  Client tracesB(collector.port());
  ASSERT_TRUE(tracesB.send(trace));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 4; }));
  EXPECT_FALSE(collector.sink.records()[3].identity.known());  // two processes on 127.0.0.1: no guess
}

TEST(Collector, StopsByItselfAfterTheLastConnectionOrTheRecordLimit) {
  {
    moxcollect::CollectorSettings settings;
    settings.stopWhenIdle = true;
    RunningCollector collector(settings);
    ASSERT_TRUE(collector.start());
    Client(collector.port()).send(sampleStream());
    ASSERT_TRUE(collector.endsByItself());
    EXPECT_EQ(collector.sink.size(), 10u);
  }
  {
    moxcollect::CollectorSettings settings;
    settings.recordLimit = 3;
    RunningCollector collector(settings);
    ASSERT_TRUE(collector.start());
    Client client(collector.port());
    client.send(sampleStream());
    ASSERT_TRUE(collector.endsByItself());
    EXPECT_EQ(collector.sink.size(), 3u);  // the rest of the same chunk is not passed on
    EXPECT_EQ(collector.stats().records(), 3u);
  }
}

TEST(Collector, RefusesConnectionsBeyondTheLimitAndServesTheOthers) {
  moxcollect::CollectorSettings settings;
  settings.maxConnections = 1;
  RunningCollector collector(settings);
  ASSERT_TRUE(collector.start());
  const std::string line = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />\n";
  Client first(collector.port());
  ASSERT_TRUE(first.send(line));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 1; }));
  Client second(collector.port());
  EXPECT_TRUE(second.closedByPeer());
  ASSERT_TRUE(first.send(line));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 2; }));
  collector.stop();
  EXPECT_NE(collector.log().find("mox-collect: refusing 127.0.0.1:"), std::string::npos);
}

TEST(Collector, ListensOnIpv6Loopback) {
  RunningCollector collector({}, "[::1]:0");
  if (!collector.start()) GTEST_SKIP() << "no IPv6 loopback here";
  Client client(collector.port(), true);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send(sampleStream()));
  ASSERT_TRUE(waitUntil([&] { return collector.sink.size() == 10; }));
  const Record first = collector.sink.records().front();
  EXPECT_EQ(first.peerHost, "::1");
  EXPECT_EQ(first.peer.rfind("[::1]:", 0), 0u);
}

}  // namespace
