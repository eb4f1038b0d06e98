// What a hostile peer can make one connection's splitter cost: nesting depth,
// memory, floods of bad lines and huge elements. Streams are fed in the
// pieces the collector reads from a socket.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "collector_support.h"
#include "json_sink.h"
#include "stream_splitter.h"
#include "top_table.h"

namespace {

using moxcollect::ElementLimits;
using moxcollect::StreamSplitter;

constexpr size_t kReadBytes = 64 * 1024;
const std::string kLine = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />";

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

std::string repeated(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// `outer` holding `inner` nested so that the whole is `depth` levels deep.
std::string nested(const std::string& outer, const std::string& inner, size_t depth) {
  return "<" + outer + ">" + repeated("<" + inner + ">", depth - 1) + repeated("</" + inner + ">", depth - 1) + "</" +
         outer + ">";
}

TEST(SplitterLimits, RefusesElementsNestedDeeperThanTheLimitAndPassesThoseAtIt) {
  Peer peer;  // default limits: 10000 levels
  peer.send(nested("event", "calledComponent", 50000) + "\n" + kLine + "\n" + nested("metric", "a", 500000) + "\n" +
            nested("event", "calledComponent", 10001) + "\n" + kLine + "\n");
  EXPECT_EQ(peer.problems, std::vector<std::string>(3, "nested deeper than 10000 levels"));
  ASSERT_EQ(peer.records.size(), 2u);

  // At the limit: taken, written and counted like any other.
  peer.send(nested("event", "calledComponent", 10000) + "\n" + nested("metric", "a", 10000) + "\n");
  ASSERT_EQ(peer.records.size(), 4u);
  EXPECT_EQ(peer.problems.size(), 3u);
  std::ostringstream out;
  moxcollect::JsonSink json(out);
  moxcollect::TopTable top;
  for (const auto& record : peer.records) json.write(record), top.add(record);
  const auto trace = nlohmann::json::parse(collecttest::linesOf(out.str()).at(2));
  const nlohmann::json* call = &trace;
  size_t depth = 1;
  while (!call->at("calls").empty()) call = &call->at("calls")[0], ++depth;
  EXPECT_EQ(depth, 10000u);
  EXPECT_NE(top.render(5).find("3 metric lines, 1 traces"), std::string::npos);
}

TEST(SplitterLimits, BoundsTheMemoryOfOneElementAndSaysWhatItHolds) {
  ElementLimits limits;
  limits.maxMemory = 16u << 20;
  Peer peer(limits);
  // 1 MiB of empty children would take some 45 MiB as a tree; 1 MiB of the library's params some 10 MiB.
  const std::string empties = "<metric>" + repeated("<a/>", 1 << 18) + "</metric>\n";
  const std::string params =
      "<event resource=\"A|b\">" + repeated("<param name=\"CPU Time (us)\" value=\"2500\" />", 25000) + "</event>\n";
  peer.send(empties + kLine + "\n" + params);
  EXPECT_EQ(peer.problems, std::vector<std::string>{"element needs more than 16777216 bytes of memory"});
  ASSERT_EQ(peer.records.size(), 2u);
  EXPECT_EQ(peer.records[1].element.children.size(), 25000u);

  // An unfinished element: its bytes, no more than it needs, then nothing once it is complete.
  const size_t idle = peer.splitter.bytesHeld();
  EXPECT_LT(idle, 2048u);
  const std::string open = params.substr(0, params.size() / 2);
  const size_t most = peer.send(open);
  EXPECT_GE(peer.splitter.bytesHeld(), open.size());
  EXPECT_LE(most, 2 * open.size() + kReadBytes);
  peer.send(params.substr(open.size()));
  EXPECT_EQ(peer.records.size(), 3u);
  EXPECT_LE(peer.splitter.bytesHeld(), idle);

  // One that never ends holds at most the element limit, and nothing once refused.
  limits.maxBytes = 1u << 20;
  Peer endless(limits);
  EXPECT_LE(endless.send("<event>" + repeated("<param name=\"x\" value=\"1\" />", 200000)), limits.maxBytes + 1024);
  EXPECT_EQ(endless.problems, std::vector<std::string>{"element longer than 1048576 bytes"});
  EXPECT_LT(endless.splitter.bytesHeld(), 2048u);
}

// The processor time of this thread, in seconds: other busy processes do not stretch it.
double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor time per line of a flood of bad lines fed in pieces of `piece`
// bytes, in ns: the fastest of two rounds, since caches shared with busy
// processes slow some.
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

// Prints what it measured, in processor time. The bounds are far above what
// the splitter costs, sanitizers included, and far below what a copy of the
// rest of the input per bad line, or a reparse of a growing token per read,
// would cost.
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

  const std::string lines = repeated(collecttest::sampleStream(), 2000);
  Peer library;
  const double begin = cpuSeconds();
  library.send(lines);
  std::cout << "[ measured ] library stream: "
            << (cpuSeconds() - begin) * 1e9 / static_cast<double>(library.records.size()) << " ns per element\n";
  EXPECT_EQ(library.records.size(), 16000u);
}

}  // namespace
