// The command line of mox-collect, and the program itself: exit codes and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include "collector_support.h"
#include "options.h"
#include "program_runner.h"

namespace {

using collecttest::Program;
using testsupport::readFile;

TEST(Options, DefaultsValuesInBothSpellingsAndHelp) {
  const auto defaults = moxcollect::parseOptions({}).options;
  ASSERT_EQ(defaults.listen.size(), 1u);
  EXPECT_EQ(defaults.listen[0].host + ":" + std::to_string(defaults.listen[0].port), "127.0.0.1:59818");
  EXPECT_TRUE(defaults.json);
  const auto parsed = moxcollect::parseOptions(
      {"--listen", "[::1]:0", "--listen=localhost:7000", "--out", "d", "--top", "--interval=0.25", "--count", "4"});
  ASSERT_EQ(parsed.error, "");
  const auto& o = parsed.options;
  ASSERT_EQ(o.listen.size(), 2u);
  EXPECT_EQ(o.listen[0].host + " " + o.listen[1].host + ":" + std::to_string(o.listen[1].port), "::1 localhost:7000");
  EXPECT_FALSE(o.json);  // --out with --top: no JSON unless asked for
  EXPECT_EQ(o.interval, std::chrono::milliseconds(250));
  EXPECT_EQ(o.count, 4u);
  for (const char* option : {"--listen", "--port-file", "--json", "--out", "--top", "--interval", "--rows", "--count",
                             "--once", "--timeout", "--quiet", "--version", "--help"}) {
    EXPECT_NE(moxcollect::helpText().find(option), std::string::npos) << option;
  }
}

TEST(Program, BadCommandLinesExitWithTwoAndAMessageNamingTheProblem) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--listen"}, "--listen needs a value"},
      {{"--listen", "59818"}, "expected HOST:PORT"},
      {{"--listen", "::1:59818"}, "expected HOST:PORT"},
      {{"--listen", "[::1]59818"}, "expected [IPv6-ADDRESS]:PORT"},
      {{"--listen", "host:65536"}, "port from 0 to 65535"},
      {{"--listen", ":80"}, "port from 0 to 65535"},
      {{"--count", "0"}, "--count: expected a positive number"},
      {{"--interval", "0"}, "--interval: expected seconds"},
      {{"--timeout", "nan"}, "--timeout: expected seconds"},
      {{"--rows", "1001"}, "--rows: expected a number"},
      {{"--out="}, "--out: the directory name is empty"},
      {{"--json=yes"}, "--json takes no value"},
      {{"--json", "--top"}, "choose one"},
  };
  testsupport::TempDir dir;
  for (const auto& [args, message] : cases) {
    Program program(dir, args);
    EXPECT_EQ(program.exitCode(), 2) << message;
    const std::string err = program.err();
    EXPECT_TRUE(err.rfind("mox-collect: ", 0) == 0 && err.find(message) != std::string::npos &&
                err.find("\nTry 'mox-collect --help'.\n") != std::string::npos)
        << err;
    EXPECT_EQ(program.out(), "");
  }
}

TEST(Program, SigtermFlushesEverythingAndPrintsTheSummaryAndASecondOneOnThePortExitsWithOne) {
  testsupport::TempDir dir;
  Program program(dir,
                  {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--json", "--out", dir.file("raw")});
  ASSERT_TRUE(testsupport::waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
  const std::string port = std::to_string(std::stoi(readFile(dir.file("port"))));
  Program busy(dir, {"--listen", "127.0.0.1:" + port}, MOX_COLLECT_BIN, "busy-");
  EXPECT_EQ(busy.exitCode(), 1);
  EXPECT_NE(busy.err().find("cannot listen on 127.0.0.1:" + port), std::string::npos) << busy.err();

  const std::string stream = collecttest::sampleStream("svc_4");
  collecttest::Client client(static_cast<uint16_t>(std::stoi(port)));
  ASSERT_TRUE(client.send(stream, 100));
  ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::countOf(program.out(), "\n") == 8; }));
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_NE(program.err().find("mox-collect: listening on 127.0.0.1:" + port + "\n"), std::string::npos);
  EXPECT_NE(program.err().find("mox-collect: summary connections=1 metrics=6 versions=1 traces=1 other=0 malformed=0 "
                               "truncated=0 bytes=" +
                               std::to_string(stream.size()) + "\n"),
            std::string::npos)
      << program.err();
  EXPECT_EQ(readFile(dir.file("raw/svc_4_mtdata.log")), stream);
  EXPECT_EQ(testsupport::countOf(program.out(), "\"process\":\"svc\""), 8u);
}

}  // namespace
