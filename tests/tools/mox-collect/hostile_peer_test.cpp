// The mox-collect program against peers that send what no library sends: it
// stays up, drops each element over its limits and goes on reading the same
// connection.
#include <gtest/gtest.h>
#include <signal.h>

#include "collector_support.h"
#include "program_runner.h"

namespace {

using collecttest::Program;
using testsupport::countOf;
using testsupport::readFile;
using testsupport::waitUntil;

std::string repeated(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// `outer` holding `inner` nested so that the whole is `depth` levels deep.
std::string nested(const std::string& outer, const std::string& inner, size_t depth) {
  return "<" + outer + ">" + repeated("<" + inner + ">", depth - 1) + repeated("</" + inner + ">", depth - 1) + "</" +
         outer + ">";
}

// Runs the collector with args, sends stream on one connection, waits until the
// raw file of the sample stream's process has all of it, stops the collector
// with SIGTERM and returns its standard output and error.
std::pair<std::string, std::string> collect(const std::vector<std::string>& options, const std::string& stream) {
  testsupport::TempDir dir;
  std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--out", dir.path()};
  args.insert(args.end(), options.begin(), options.end());
  Program program(dir, args);
  EXPECT_TRUE(waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
  collecttest::Client peer(static_cast<uint16_t>(std::stoi(readFile(dir.file("port")))));
  EXPECT_TRUE(peer.send(stream));
  const std::string sample = collecttest::sampleStream();
  EXPECT_TRUE(waitUntil([&] { return readFile(dir.file("disp_3_mtdata.log")) == sample; })) << program.err();
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  return {program.out(), program.err()};
}

TEST(HostilePeer, DeepNestingIsDroppedWhileTheJsonAndTopOutputsGoOn) {
  // 50,000 levels of calls in 1.7 MB, 500,000 levels of <a> in a metric line.
  const std::string stream = nested("event", "calledComponent", 50000) + "\n" + nested("metric", "a", 500000) + "\n" +
                             collecttest::sampleStream();
  // Each output with what it shows of the sample stream.
  const std::pair<const char*, const char*> outputs[] = {{"--json", "\"kind\":\"trace\""},
                                                         {"--top", "6 metric lines, 1 traces"}};
  for (const auto& [output, shown] : outputs) {
    SCOPED_TRACE(output);
    const auto [out, err] = collect({output}, stream);
    EXPECT_NE(out.find(shown), std::string::npos) << out;
    EXPECT_NE(err.find("metrics=6 versions=1 traces=1 other=0 malformed=2 truncated=0"), std::string::npos) << err;
    EXPECT_NE(err.find("dropped an element (nested deeper than 10000 levels): <event><calledComponent>"),
              std::string::npos)
        << err;
  }
}

TEST(HostilePeer, TheLimitsGivenOnTheCommandLineApply) {
  const std::string sample = collecttest::sampleStream();
  ASSERT_LT(collecttest::linesOf(sample).back().size(), 2048u);  // its trace, 4 levels deep
  const std::string stream = nested("event", "calledComponent", 5) + "\n" + "<metric name=\"" + std::string(3000, 'x') +
                             "\" />\n" + "<metric>" + repeated("<a/>", 60) + "</metric>\n" + sample;
  const std::string err =
      collect({"--json", "--max-depth", "4", "--max-element-bytes", "2K", "--max-element-memory=8K"}, stream).second;
  EXPECT_NE(err.find("metrics=6 versions=1 traces=1 other=0 malformed=3 truncated=0"), std::string::npos) << err;
  for (const char* problem : {"nested deeper than 4 levels", "element longer than 2048 bytes",
                              "element needs more than 8192 bytes of memory"}) {
    EXPECT_NE(err.find(problem), std::string::npos) << problem;
  }
}

}  // namespace
