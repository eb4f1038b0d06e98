// The mox-collect program against peers that send what no library sends: it
// stays up, drops each element over its limits and goes on reading the same
// connection, whatever it writes.
#include <gtest/gtest.h>
#include <signal.h>

#include "collector_support.h"
#include "program_runner.h"

namespace {

using collecttest::nested;
using testsupport::readFile;

// Runs the collector with options, sends stream on one connection, waits until the
// raw file of the sample stream's process has all of it, stops the collector
// with SIGTERM and returns its standard output and error.
std::pair<std::string, std::string> collect(const std::vector<std::string>& options, const std::string& stream) {
  testsupport::TempDir dir;
  std::vector<std::string> args = collecttest::listening(dir, options);
  args.insert(args.end(), {"--out", dir.path()});
  collecttest::Program program(dir, args);
  collecttest::Client peer(collecttest::portOf(dir));
  EXPECT_TRUE(peer.send(stream)) << program.err();
  const std::string sample = collecttest::sampleStream();
  EXPECT_TRUE(testsupport::waitUntil([&] { return readFile(dir.file("disp_3_mtdata.log")) == sample; }))
      << program.err();
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  return {program.out(), program.err()};
}

TEST(HostilePeer, ElementsOverTheDefaultOrTheGivenLimitsAreDroppedWhileEveryOutputGoesOn) {
  const std::string sample = collecttest::sampleStream();
  ASSERT_LT(collecttest::linesOf(sample).back().size(), 2048u);  // its trace, 4 levels deep
  // 50,000 levels of calls in 1.7 MB, 500,000 levels of <a> in a metric line.
  const std::string deep =
      nested("event", "calledComponent", 50000) + "\n" + nested("metric", "a", 500000) + "\n" + sample;
  const char* const tooDeep = "dropped an element (nested deeper than 10000 levels): <event><calledComponent>";
  const struct {
    std::vector<std::string> options;
    std::string stream, shown;  // shown: what the output shows of the sample stream
    int malformed;
    std::vector<const char*> problems;
  } cases[] = {
      {{"--json"}, deep, "\"kind\":\"trace\"", 2, {tooDeep}},
      // Not on a terminal: one table when stopped, however short the interval.
      {{"--top", "--interval", "0.01"},
       deep,
       "mox-collect: 6 metric lines, 1 traces, 2 timing keys, 3 resources\n",
       2,
       {tooDeep}},
      {{"--json", "--max-depth", "4", "--max-element-bytes", "2K", "--max-element-memory=8K"},
       nested("event", "calledComponent", 5) + "\n<metric name=\"" + std::string(3000, 'x') + "\" />\n<metric>" +
           collecttest::repeated("<a/>", 60) + "</metric>\n" + sample,
       "\"kind\":\"trace\"",
       3,
       {"nested deeper than 4 levels", "element longer than 2048 bytes",
        "element needs more than 8192 bytes of memory"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.back());
    const auto [out, err] = collect(c.options, c.stream);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, c.shown, out);
    EXPECT_EQ(testsupport::countOf(out, "mox-collect: "), c.options[0] == "--top" ? 1u : 0u);
    EXPECT_EQ(out.find("\x1b["), std::string::npos);
    EXPECT_NE(
        err.find("metrics=6 versions=1 traces=1 other=0 malformed=" + std::to_string(c.malformed) + " truncated=0"),
        std::string::npos)
        << err;
    for (const char* problem : c.problems) EXPECT_PRED_FORMAT2(testing::IsSubstring, problem, err);
  }
}

}  // namespace
