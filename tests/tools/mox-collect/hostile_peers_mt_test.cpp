// Hostile peers flood the collector with malformed lines, endless nesting, elements that cost more
// memory than bytes and idle connections, each from a loopback address of its own (127.0.0.x),
// while a real library host streams to it.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <iostream>
#include <mutex>
#include <thread>

#include "collector_support.h"
#include "e2e/e2e_support.h"
#include "program_runner.h"
#include "support/test_files.h"

namespace {

using collecttest::Client;
using testsupport::waitUntil;

// A peer that sends `opening`, then `piece` again and again up to `perConnection` bytes, then
// connects again and starts over, until stopped. A connection the collector closes ends it.
class Flood {
 public:
  Flood(uint16_t port, const char* from, const std::string& opening, const std::string& piece,
        size_t perConnection = SIZE_MAX)
      : thread_([=] { run(port, from, opening, piece, perConnection); }) {}
  ~Flood() { stop(); }
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      if (client_ != nullptr) client_->shutdown();  // a send waiting for room returns at once
    }
    if (thread_.joinable()) thread_.join();
  }
  size_t sent() const { return sent_; }

 private:
  void run(uint16_t port, const char* from, const std::string& opening, const std::string& piece,
           size_t perConnection) {
    for (bool open = true; open;) {
      Client client(port, from);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        client_ = &client;
      }
      open = client.send(opening);
      for (size_t sent = 0; open && !stopping_ && sent < perConnection && (open = client.send(piece));) {
        sent += piece.size();
        sent_ += piece.size();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      client_ = nullptr;
    }
  }

  std::mutex mutex_;
  std::atomic<bool> stopping_{false};
  Client* client_ = nullptr;  // the connection of the moment, under mutex_
  std::atomic<size_t> sent_{0};
  std::thread thread_;
};

// About 64 KiB of `unit` again and again.
std::string repeated(const std::string& unit) { return collecttest::repeated(unit, 64 * 1024 / unit.size() + 1); }

// Short lines that are not well-formed: each costs the collector a recovery.
const std::string kMalformed = repeated("<m a=\"1\" a=\"2\"/>\n</stray>\n<&>\n");

// A library host "fair" in this process, streaming its metric data to the collector; its intervals
// come from outputInterval() only.
struct LibraryHost {
  LibraryHost(uint16_t port, const testsupport::TempDir& logdir) : traceFile(logdir.file("fair_mox.trc")) {
    e2e::initLibrary({{"datasending_method", "socket"},
                      {"agent_host", "127.0.0.1"},
                      {"agent_port", std::to_string(port)},
                      {"logdir", logdir.path()},
                      {"lib_trace_level", "1"},
                      {"datasending_interval", "3600"}},
                     "fair");
  }
  ~LibraryHost() { MOX_ProcExit(); }
  // Times each key once and sends the interval.
  void outputInterval(int keys) {
    for (int i = 0; i < keys; ++i) {
      MOX_endTiming(MOX_startTiming((u"Component" + e2e::widen(std::to_string(i))).c_str(), u"call", 1));
    }
    MOX_outputMetricData();
  }
  bool failedToSend() const { return testsupport::readFile(traceFile).find("Failed to send") != std::string::npos; }

  const std::string traceFile;
};

TEST(HostilePeers, ALibraryHostGetsEveryMetricLineWhileFourHostilePeersRun) {
  moxcollect::CollectorSettings settings;
  settings.maxConnections = 100;
  settings.maxPerAddress = 32;
  collecttest::RunningCollector collector(settings, false);
  const uint16_t port = collector.port();

  // Idle slots: 40 silent connections from each of four addresses, more than the limits allow.
  std::vector<std::unique_ptr<Client>> idle;
  const char* const idleAddresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
  for (int i = 0; i < 160; ++i) idle.push_back(std::make_unique<Client>(port, idleAddresses[i % 4]));
  ASSERT_TRUE(waitUntil([&] { return collector.stats().connections == 160; }));
  EXPECT_EQ(collector.stats().open, 100u);

  // Elements nested without end, and a trace whose parameters cost far more memory than their bytes:
  // 4 MiB on a connection, then again on a new one.
  Flood malformed(port, "127.0.0.6", "", kMalformed);
  Flood nesting(port, "127.0.0.7", "", repeated("<a>"), 4u << 20);
  Flood amplifying(port, "127.0.0.8", "<event resource=\"x\">", repeated("<param name=\"n\" value=\"v\" />"), 4u << 20);
  ASSERT_TRUE(
      waitUntil([&] { return collector.stats().malformed > 0 && nesting.sent() > 0 && amplifying.sent() > 0; }));

  testsupport::TempDir logdir;
  // The host gives up a write that finds its socket full for 500 ms. However slowly a loaded machine
  // lets the collector read, an interval's lines (some 15 KB) fit into the socket's buffers, and the
  // next interval waits until the collector has them all: so the test waits on what the collector
  // read, never on how fast, and the host's writes never wait for room.
  constexpr int kKeys = 50;
  constexpr int kIntervals = 40;
  // Each key makes three lines: finished, finished with undefined state, average elapsed time.
  constexpr size_t kLinesPerInterval = 3 * kKeys;
  LibraryHost host(port, logdir);
  const uint64_t malformedBefore = collector.stats().malformed;
  for (int interval = 1; interval <= kIntervals; ++interval) {
    host.outputInterval(kKeys);
    const size_t expected = interval * kLinesPerInterval;
    waitUntil([&] { return collector.timingLinesOf("fair_0") >= expected || host.failedToSend(); },
              std::chrono::seconds(60));
    ASSERT_FALSE(host.failedToSend()) << "interval " << interval << ": " << collector.timingLinesOf("fair_0") << " of "
                                      << expected << " lines";
    ASSERT_EQ(collector.timingLinesOf("fair_0"), expected);
  }
  std::cout << "[ measured ] hostile peers sent " << (malformed.sent() + nesting.sent() + amplifying.sent()) / 1024
            << " KiB, " << collector.stats().malformed << " elements dropped\n";
  EXPECT_GT(collector.stats().malformed, malformedBefore);  // the flood was read all along
  malformed.stop();
  nesting.stop();
  amplifying.stop();
  collector.stop();
  EXPECT_EQ(collector.stats().refused, 0u);
  EXPECT_GE(collector.stats().evicted, 60u);
}

// SIGTERM ends the collector within seconds, however much the peers still send.
TEST(HostilePeers, SigtermEndsTheCollectorPromptlyWhileFourPeersFlood) {
  testsupport::TempDir dir;
  collecttest::Program program(dir, collecttest::listening(dir, {"--quiet"}));
  const uint16_t port = collecttest::portOf(dir);
  ASSERT_NE(port, 0) << program.err();
  std::vector<std::unique_ptr<Flood>> floods;
  for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    floods.push_back(std::make_unique<Flood>(port, from, "", kMalformed));
  }
  ASSERT_TRUE(waitUntil(
      [&] { return std::all_of(floods.begin(), floods.end(), [](const auto& f) { return f->sent() > (1u << 20); }); }));
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(std::chrono::seconds(5)), 0);  // reading what is already sent takes at most 0.5 s
  floods.clear();                                           // their sends now fail
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "mox-collect: summary connections=4 metrics=0 ", program.err());
}

}  // namespace
