// The mox-collect program itself: exit codes, help, and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include "collector_support.h"
#include "program_runner.h"
#include "sample_stream.h"
#include "support/test_files.h"

namespace {

using collecttest::Program;
using testsupport::countOf;
using testsupport::readFile;
using testsupport::waitUntil;

TEST(Program, ExitCodesForBadCommandLinesHelpAndAPortInUse) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--nope"}, {"--listen", "nowhere"}}) {
    testsupport::TempDir dir;
    Program program(dir, args);
    EXPECT_EQ(program.exitCode(), 2) << args[0];
    EXPECT_EQ(program.err().rfind("mox-collect: ", 0), 0u) << program.err();
    EXPECT_NE(program.err().find("Try 'mox-collect --help'."), std::string::npos);
    EXPECT_EQ(program.out(), "");
  }
  testsupport::TempDir dir;
  Program help(dir, {"--help"});
  EXPECT_EQ(help.exitCode(), 0);
  for (const char* option : {"--listen", "--port-file", "--json", "--out", "--top", "--interval", "--rows", "--count",
                             "--once", "--timeout", "--quiet", "--version", "--help"}) {
    EXPECT_NE(help.out().find(option), std::string::npos) << option;
  }
  collecttest::RunningCollector taken;  // holds a port
  ASSERT_TRUE(taken.start());
  Program busy(dir, {"--listen", "127.0.0.1:" + std::to_string(taken.port())}, MOX_COLLECT_BIN, "busy-");
  EXPECT_EQ(busy.exitCode(), 1);
  EXPECT_NE(busy.err().find("cannot listen on 127.0.0.1:"), std::string::npos) << busy.err();
}

// Starts mox-collect on a free port and connects a client to it.
struct Started {
  Started(const testsupport::TempDir& dir, std::vector<std::string> args) : program(dir, withPort(dir, args)) {
    EXPECT_TRUE(waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
    port = static_cast<uint16_t>(std::stoi(readFile(dir.file("port"))));
  }
  static std::vector<std::string> withPort(const testsupport::TempDir& dir, std::vector<std::string> args) {
    args.insert(args.end(), {"--listen", "127.0.0.1:0", "--port-file", dir.file("port")});
    return args;
  }
  Program program;
  uint16_t port = 0;
};

TEST(Program, SigtermFlushesEverythingAndPrintsTheSummary) {
  testsupport::TempDir dir;
  Started started(dir, {"--json", "--out", dir.file("raw")});
  const std::string stream = collecttest::sampleStream("svc_4");
  collecttest::Client client(started.port);
  ASSERT_TRUE(client.send(stream, 100));
  ASSERT_TRUE(waitUntil([&] { return countOf(started.program.out(), "\n") == 10; }));
  started.program.signal(SIGTERM);
  EXPECT_EQ(started.program.exitCode(), 0);
  const std::string err = started.program.err();
  EXPECT_NE(err.find("mox-collect: listening on 127.0.0.1:" + std::to_string(started.port) + "\n"), std::string::npos);
  EXPECT_NE(err.find("mox-collect: summary connections=1 metrics=8 versions=1 traces=1 other=0 malformed=0 "
                     "truncated=0 bytes=" +
                     std::to_string(stream.size()) + "\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(readFile(dir.file("raw/svc_4_mtdata.log")), stream);
  EXPECT_EQ(countOf(started.program.out(), "\"process\":\"svc\""), 10u);
}

TEST(Program, CountStopsAfterThatManyRecordsAndQuietKeepsConnectionsOutOfTheLog) {
  testsupport::TempDir dir;
  Started started(dir, {"--count", "4", "--quiet"});
  collecttest::Client(started.port).send(collecttest::sampleStream());
  EXPECT_EQ(started.program.exitCode(), 0);
  EXPECT_EQ(countOf(started.program.out(), "\n"), 4u);
  EXPECT_NE(started.program.err().find("summary connections=1 metrics=3 versions=1 traces=0"), std::string::npos);
  EXPECT_EQ(started.program.err().find("connection 1"), std::string::npos);
}

}  // namespace
