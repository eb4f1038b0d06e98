// The mox-collect program itself: exit codes, help, and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include "collector_support.h"
#include "program_runner.h"
#include "support/test_files.h"

namespace {

using collecttest::Program;
using testsupport::readFile;

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

TEST(Program, SigtermFlushesEverythingAndPrintsTheSummary) {
  testsupport::TempDir dir;
  Program program(dir,
                  {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--json", "--out", dir.file("raw")});
  ASSERT_TRUE(testsupport::waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
  const std::string port = std::to_string(std::stoi(readFile(dir.file("port"))));

  const std::string stream = collecttest::sampleStream("svc_4");
  collecttest::Client client(static_cast<uint16_t>(std::stoi(port)));
  ASSERT_TRUE(client.send(stream, 100));
  ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::countOf(program.out(), "\n") == 10; }));
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_NE(program.err().find("mox-collect: listening on 127.0.0.1:" + port + "\n"), std::string::npos);
  EXPECT_NE(program.err().find("mox-collect: summary connections=1 metrics=8 versions=1 traces=1 other=0 malformed=0 "
                               "truncated=0 bytes=" +
                               std::to_string(stream.size()) + "\n"),
            std::string::npos)
      << program.err();
  EXPECT_EQ(readFile(dir.file("raw/svc_4_mtdata.log")), stream);
  EXPECT_EQ(testsupport::countOf(program.out(), "\"process\":\"svc\""), 10u);
}

}  // namespace
