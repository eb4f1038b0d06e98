#include <gtest/gtest.h>

#include <thread>

#include "collector_support.h"
#include "support/test_files.h"

namespace {

using collecttest::Client;
using collecttest::kLine;
using collecttest::RunningCollector;
using collecttest::sampleStream;
using testsupport::waitUntil;

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
  EXPECT_EQ(collector.stats().summary(),
            summary + " bytes=" + std::to_string(bytes) +
                " idle_closed=0 evicted=0 refused=0 over_budget=0 sink_dropped=0"
                " top_dropped=0 file_overflow=0 prometheus_malformed=0 prometheus_refused=0");
  const std::string log = collector.log();
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      "connection 6: dropped an element (not well-formed (invalid token)): <event resource=\"A & B\">"
                      "</event>\\x0a<metric",
                      log);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "connection 6 closed after 2 records", log);
}

// The loop reads a line's process only when it differs from the connection's last; the writer thread
// splits the name. A line whose name names no process takes its connection's, or else the only one
// seen at its address. At the record limit the collector stops, the rest of the same read not passed on.
TEST(Collector, GivesEachLineTheProcessItsNameOrElseItsConnectionNames) {
  moxcollect::CollectorSettings settings;
  settings.recordLimit = 13;
  RunningCollector collector(settings);
  Client client(collector.port()), traces(collector.port());
  const auto received = [&](const std::string& text, Client& on) { return sendRecord(collector, on, text); };
  const auto identity = [&] { return collector.records().back().identity; };
  const auto metric = [](const std::string& name) {
    return "<metric type=\"IntAverage\" name=\"" + name + "\" value=\"1\" />";
  };
  const std::string trace = "<event resource=\"A|b\" startTime=\"t\" duration=\"1\"></event>";
  ASSERT_TRUE(received(metric(":Finished Counter"), client));  // nothing known yet, on the connection or its address
  EXPECT_FALSE(identity().known());
  ASSERT_TRUE(received(kLine, client));
  EXPECT_EQ(identity(), (moxcollect::Identity{"S", "p", "1"}));
  ASSERT_TRUE(received(trace, traces));  // no version line: the only process seen at 127.0.0.1
  EXPECT_EQ(identity(), (moxcollect::Identity{"S", "p", "1"}));
  ASSERT_TRUE(received(metric("S|q_2|pre|A|b:Finished Counter"), client));
  const moxcollect::Record q = collector.records().back();
  EXPECT_EQ(q.identity, (moxcollect::Identity{"S", "q", "2"}));
  EXPECT_EQ(q.metric.instancePrefix + " " + q.metric.key + " " + q.metric.label, "pre A|b Finished Counter");
  ASSERT_TRUE(received(metric(":Finished Counter"), client));
  EXPECT_EQ(identity(), (moxcollect::Identity{"S", "q", "2"}));
  EXPECT_EQ(collector.records().back().metric.label, "Finished Counter");
  ASSERT_TRUE(received(metric("S|q_2|C|d:Finished Counter"), client));  // the same process: read no further
  EXPECT_EQ(collector.records().back().metric.key, "C|d");
  // A long process part is not kept per connection, but read each time all the same.
  const std::string longSystem(300, 'L');
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(received(metric(longSystem + "|r_3|A|b:Finished Counter"), client));
    EXPECT_EQ(identity(), (moxcollect::Identity{longSystem, "r", "3"}));
  }
  ASSERT_TRUE(received(metric("S|q_2|C|d:Finished Counter"), client));
  ASSERT_TRUE(received(metric(":Finished Counter"), client));
  EXPECT_EQ(identity(), (moxcollect::Identity{"S", "q", "2"}));
  ASSERT_TRUE(received(trace, client));
  EXPECT_EQ(identity(), (moxcollect::Identity{"S", "q", "2"}));
  EXPECT_EQ(collector.records().back().metric.key + collector.records().back().metric.label, "");  // no metric name
  // Now that several processes were seen at the address, a connection that named none gets none.
  ASSERT_TRUE(received(trace, traces));
  EXPECT_FALSE(identity().known());
  ASSERT_TRUE(client.send(sampleStream()));
  ASSERT_TRUE(collector.endsByItself());
  EXPECT_EQ(collector.size(), 13u);
}

// Idle connections: closed once silent for the time-out, by the injected clock.
TEST(Collector, ClosesAConnectionSilentForTheIdleTimeOutAndKeepsOneThatSpoke) {
  collecttest::ManualClock clock;
  moxcollect::CollectorSettings settings;
  settings.clock = clock.reader();
  RunningCollector collector(settings);
  Client speaking(collector.port()), silent(collector.port());
  ASSERT_TRUE(waitUntil([&] { return collector.stats().connections == 2; }));
  clock.set(std::chrono::minutes(10));
  ASSERT_TRUE(sendRecord(collector, speaking, kLine));

  clock.set(std::chrono::minutes(15));  // the default time-out since the accept
  collector.collector().wake();
  ASSERT_TRUE(silent.closedByCollector());
  EXPECT_EQ(collector.stats().idleClosed, 1u);
  EXPECT_TRUE(speaking.open());  // 5 minutes since it spoke
  clock.set(std::chrono::minutes(25));
  collector.collector().wake();
  ASSERT_TRUE(speaking.closedByCollector());
  EXPECT_EQ(collector.stats().idleClosed, 2u);
  collector.stop();
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "connection 2 closed after 0 records, silent for 900 s", collector.log());
}

// At the per-address limit a new connection closes that address's longest-idle
// one; at the connection limit, the longest-idle of all. Nobody is refused.
TEST(Collector, MakesRoomForANewConnectionByClosingTheLongestIdleOfItsAddressThenOfAll) {
  collecttest::ManualClock clock;
  moxcollect::CollectorSettings settings;
  settings.clock = clock.reader();
  settings.maxPerAddress = 2;
  settings.maxConnections = 3;
  RunningCollector collector(settings);
  std::vector<std::unique_ptr<Client>> clients;
  // The n-th connection comes at n seconds.
  const auto connect = [&](const char* from) {
    clock.set(std::chrono::seconds(clients.size()));
    clients.push_back(std::make_unique<Client>(collector.port(), from));
    return waitUntil([&] { return collector.stats().connections == clients.size(); });
  };
  ASSERT_TRUE(connect("127.0.0.1") && connect("127.0.0.1"));
  clock.set(std::chrono::milliseconds(1500));
  ASSERT_TRUE(sendRecord(collector, *clients[0], kLine));
  ASSERT_TRUE(connect("127.0.0.1"));  // 127.0.0.1 is full: its longest idle, clients[1], goes
  ASSERT_TRUE(clients[1]->closedByCollector());
  ASSERT_TRUE(connect("127.0.0.2"));  // three open: within the limit
  EXPECT_TRUE(clients[0]->open() && clients[2]->open() && clients[3]->open());
  ASSERT_TRUE(connect("127.0.0.2"));  // over the limit: the longest idle of all, clients[0] (spoke at 1.5 s)
  ASSERT_TRUE(clients[0]->closedByCollector());
  EXPECT_TRUE(clients[2]->open() && clients[3]->open() && clients[4]->open());
  EXPECT_EQ(collector.stats().evicted, 2u);
  EXPECT_EQ(collector.stats().open, 3u);
  ASSERT_TRUE(sendRecord(collector, *clients[4], kLine));
  collector.stop();
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      "connection 2 closed after 0 records, to make room: 2 connections from 127.0.0.1",
                      collector.log());
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "connection 1 closed after 1 records, to make room: 3 connections",
                      collector.log());
}

// The bytes all connections hold in unfinished elements are bounded: the
// connection whose read goes over is closed, the others go on.
TEST(Collector, ClosesTheConnectionThatTakesTheHeldBytesOverTheMemoryBudget) {
  moxcollect::CollectorSettings settings;
  settings.memoryBudget = 100000;
  RunningCollector collector(settings);
  // A trace of 60,000 bytes, cut before its end tag.
  const std::string param = "<param name=\"n\" value=\"v\" />", end = "</event>\n";
  std::string half = "<event resource=\"A|b\">";
  while (half.size() + param.size() <= 60000) half += param;
  half += std::string(60000 - half.size(), ' ');
  Client first(collector.port()), second(collector.port());
  ASSERT_TRUE(first.send(half) && waitUntil([&] { return collector.stats().bytes == 60000; }));
  ASSERT_TRUE(second.send(half));
  ASSERT_TRUE(second.closedByCollector());
  EXPECT_EQ(collector.stats().overBudget, 1u);
  ASSERT_TRUE(first.send(end) && waitUntil([&] { return collector.size() == 1; }));
  EXPECT_EQ(collector.records()[0].raw, half + "</event>");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(first.send(half + end));  // what has ended is not held
  ASSERT_TRUE(waitUntil([&] { return collector.size() == 4; }));
  collector.stop();
  EXPECT_EQ(collector.stats().overBudget, 1u);
  EXPECT_EQ(collector.stats().truncated, 1u);  // the closed one's trace
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "connection 2 closed after 0 records, over the memory budget (100000 bytes",
                      collector.log());
}

}  // namespace
