// What a hostile peer can make one connection's splitter cost: memory, floods
// of bad lines and huge elements, fed in the pieces read from a socket.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <iostream>

#include "collector_support.h"
#include "stream_splitter.h"

namespace {

using collecttest::kLine;
using collecttest::repeated;
using moxcollect::ElementLimits;
using moxcollect::StreamSplitter;

constexpr size_t kReadBytes = 64 * 1024;

// A splitter that keeps the records it is handed and the problems it reports.
struct Peer {
  explicit Peer(const ElementLimits& limits = {})
      : splitter([this](moxcollect::Element&& e,
                        std::string&& raw) { records.push_back(moxcollect::makeRecord(std::move(e), std::move(raw))); },
                 [this](const std::string& problem, const std::string&) { problems.push_back(problem); }, limits) {}

  // Feeds in socket-sized pieces; returns the most the splitter held after any of them.
  size_t send(std::string_view stream) {
    size_t most = 0;
    for (size_t at = 0; at < stream.size(); at += kReadBytes) {
      splitter.feed(stream.substr(at, kReadBytes));
      most = std::max(most, splitter.bytesHeld());
    }
    return most;
  }

  std::vector<moxcollect::Record> records;
  std::vector<std::string> problems;
  StreamSplitter splitter;
};

TEST(SplitterLimits, BoundsTheMemoryOfOneElementAndSaysWhatItHolds) {
  ElementLimits limits;
  limits.maxMemory = 16u << 20;
  Peer peer(limits);
  // 1 MiB of empty children would take some 45 MiB as a tree; 1 MiB of the library's params some 10 MiB.
  const std::string empties = "<metric>" + repeated("<a/>", 1 << 18) + "</metric>\n";
  const std::string params =
      "<event resource=\"A|b\">" + repeated("<param name=\"CPU Time (us)\" value=\"2500\" />", 25000) + "</event>\n";

  // Dropped as soon as it goes over, its bytes and tree freed; reported at its end, where the stream goes on.
  const size_t most = peer.send(empties.substr(0, empties.size() / 2));
  EXPECT_LE(most, limits.maxMemory + empties.size());
  EXPECT_LT(peer.splitter.bytesHeld(), 2048u);
  EXPECT_TRUE(peer.problems.empty());
  peer.send(empties.substr(empties.size() / 2) + kLine + "\n" + params);
  EXPECT_EQ(peer.problems, std::vector<std::string>{"element needs more than 16777216 bytes of memory"});
  ASSERT_EQ(peer.records.size(), 2u);
  EXPECT_EQ(peer.records[1].element.children.size(), 25000u);

  // An unfinished element: its bytes and, being large, its tree so far; nothing once it is complete.
  const size_t idle = peer.splitter.bytesHeld();
  EXPECT_LT(idle, 2048u);
  const std::string open = params.substr(0, params.size() / 2);
  EXPECT_LE(peer.send(open), limits.maxMemory + open.size());
  EXPECT_GE(peer.splitter.bytesHeld(), 4 * open.size());  // its tree takes several times its bytes
  peer.send(params.substr(open.size()));
  EXPECT_EQ(peer.records.size(), 3u);
  EXPECT_LE(peer.splitter.bytesHeld(), idle);

  // One that never ends holds at most its bytes and its budget, and nothing once refused.
  limits.maxBytes = 1u << 20;
  Peer endless(limits);
  EXPECT_LE(endless.send("<event>" + repeated("<param name=\"x\" value=\"1\" />", 200000)),
            limits.maxBytes + limits.maxMemory);
  EXPECT_EQ(endless.problems, std::vector<std::string>{"element longer than 1048576 bytes"});
  EXPECT_LT(endless.splitter.bytesHeld(), 2048u);
}

// The processor time of this thread, in seconds: other busy processes do not stretch it.
double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor ns per line of a flood of bad lines fed in pieces of `piece` bytes:
// the fastest of two rounds, since caches shared with busy processes slow some.
double nsPerBadLine(const std::string& flood, size_t piece) {
  const size_t lines = flood.size() / 2;
  double fastest = 1e9;
  for (int round = 0; round < 2; ++round) {
    size_t dropped = 0;
    StreamSplitter splitter([](moxcollect::Element&&, std::string&&) {},
                            [&](const std::string&, const std::string&) { ++dropped; });
    const double start = cpuSeconds();
    for (size_t at = 0; at < flood.size(); at += piece) splitter.feed(std::string_view(flood).substr(at, piece));
    fastest = std::min(fastest, cpuSeconds() - start);
    EXPECT_EQ(dropped, lines);
  }
  return fastest * 1e9 / static_cast<double>(lines);
}

// The bounds are far above what the splitter costs, sanitizers included, and far below what a
// copy of the rest of the input per bad line, or a reparse of a growing token per read, costs.
TEST(SplitterLimits, ABadLineOrAHugeElementCostsTimeLinearInItsBytes) {
  // A bad line costs the same whatever follows it in the same piece of input.
  const std::string flood = repeated("<\n", 1 << 19);
  const double inSmallPieces = nsPerBadLine(flood, 4096);
  const double inOnePiece = nsPerBadLine(flood, flood.size());
  std::cout << "[ measured ] flood of '<' lines: " << inSmallPieces << " ns per line in 4 KiB pieces, " << inOnePiece
            << " ns in one piece of 1 MiB\n";
  EXPECT_LT(inOnePiece, 3 * inSmallPieces);
  EXPECT_LT(inOnePiece, 20000);

  const std::string text =
      "<event resource=\"A|b\"><param name=\"big\" value=\"" + std::string(32u << 20, 'x') + "\" /></event>";
  const std::string_view huge = text;
  Peer peer;
  const double start = cpuSeconds();
  peer.send(huge.substr(0, huge.size() - 1));
  EXPECT_TRUE(peer.records.empty());
  peer.send(huge.substr(huge.size() - 1));  // its last byte
  const double seconds = cpuSeconds() - start;
  std::cout << "[ measured ] 32 MiB element in 64 KiB pieces: " << seconds << " s of processor time\n";
  ASSERT_EQ(peer.records.size(), 1u);
  EXPECT_EQ(peer.records[0].raw.size(), huge.size());
  EXPECT_LT(seconds, 8.0);
}

// The processor time of the feeds of a stream in socket-sized pieces, and what they handed over.
struct FeedTimes {
  double longest = 0, total = 0;
  std::vector<size_t> children;  // of each element handed over
};

FeedTimes timeFeeds(std::string_view stream, const ElementLimits& limits) {
  FeedTimes times;
  // Keeps what it is handed, as the collector does: there it is freed on another thread.
  std::vector<std::pair<moxcollect::Element, std::string>> taken;
  StreamSplitter splitter(
      [&](moxcollect::Element&& e, std::string&& raw) {
        times.children.push_back(e.children.size());
        taken.emplace_back(std::move(e), std::move(raw));
      },
      [](const std::string&, const std::string&) {}, limits);
  for (size_t at = 0; at < stream.size(); at += kReadBytes) {
    const double start = cpuSeconds();
    splitter.feed(stream.substr(at, kReadBytes));
    const double feed = cpuSeconds() - start;
    times.total += feed;
    times.longest = std::max(times.longest, feed);
  }
  return times;
}

// A large element is parsed as it arrives, so no read of it costs much more than the others.
// The bound leaves room for the amortized copies made when a buffer of the element grows.
TEST(SplitterLimits, EachReadOfALargeElementCostsWorkInProportionToItsBytes) {
  const std::string param = "<param name=\"client.header.User-Agent\" value=\"" + std::string(80, 'u') + "\" />";
  const std::string amplifying = "<param name=\"n\" value=\"v\" />";  // its tree costs 11 times its bytes
  // What, the param repeated, the trace's bytes at most.
  const std::tuple<const char*, std::string, size_t> cases[] = {
      {"4 MiB trace", param, 4u << 20},
      {"4 MiB trace of empty params", amplifying, 4u << 20},
      {"64 MiB trace", param, 64u << 20},
  };
  ElementLimits limits;
  limits.maxMemory = size_t{1} << 30;  // the 64 MiB trace takes some 350 MiB as counted
  double nsPerByte[3] = {};
  for (size_t i = 0; i < 3; ++i) {
    const auto& [what, unit, bytes] = cases[i];
    SCOPED_TRACE(what);
    const size_t children = (bytes - 64) / unit.size();
    const std::string trace = "<event resource=\"A|b\">" + repeated(unit, children) + "</event>";
    const FeedTimes times = timeFeeds(trace, limits);
    nsPerByte[i] = times.total * 1e9 / static_cast<double>(trace.size());
    std::cout << "[ measured ] " << what << " in 64 KiB reads: longest " << times.longest * 1e3 << " ms, total "
              << times.total << " s, " << nsPerByte[i] << " ns per byte\n";
    EXPECT_EQ(times.children, std::vector<size_t>{children});
    EXPECT_LT(times.longest, times.total / 2);
  }
  EXPECT_LT(nsPerByte[2], 8 * nsPerByte[0]);  // 16 times the bytes: a square would cost 16 times more per byte
}

}  // namespace
