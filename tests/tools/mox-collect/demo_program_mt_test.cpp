// The mox-demo program: its command line, and what it says about the delivery
// of its data when no collector listens or the collector goes away during the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "program_runner.h"
#include "support/tcp_listener.h"

namespace {

using collecttest::Program;

TEST(DemoCommandLine, BadArgumentsExitWithTwoAMessageNamingThemAndTheUsage) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-h=1"}, "unknown option '-h=1'"},
      {{"stray"}, "unexpected argument 'stray'"},
      {{"--seconds"}, "--seconds needs a value"},
      {{"--threads=0"}, "--threads: expected a whole number from 1 to 64, not '0'"},
      {{"--seconds", "3s"}, "--seconds: expected a whole number from 1 to 3600, not '3s'"},
      {{"--collector", "localhost"}, "--collector wants HOST:PORT"},
      {{"--collector", "[::1]:65536"}, "--collector wants HOST:PORT"},
      {{"--logdir="}, "--logdir: the directory name is empty"},
      {{"--logdir", "d\xc3\xbcr"}, "--logdir: the library takes directory names in ASCII only"},
      {{"--help=me"}, "--help takes no value"},
      {{"--default-start", "--collector", "127.0.0.1:59818"}, "--collector and --default-start exclude each other"},
      {{"--logdir", "x", "--default-start"}, "--logdir and --default-start exclude each other"},
      {{"--seconds", "2", "--bogus", "--help"}, "unknown option '--bogus'"},  // the first bad one counts
  };
  testsupport::TempDir dir;
  for (const auto& [args, message] : cases) {
    Program demo(dir, args, MOX_DEMO_BIN);
    EXPECT_EQ(demo.exitCode(), 2) << message;
    const std::string err = demo.err();
    EXPECT_TRUE(demo.out().empty() && err.rfind(std::string("mox-demo: ") + message, 0) == 0 &&
                err.find("\nUsage: mox-demo ") != std::string::npos)
        << err;
  }
}

TEST(DemoCommandLine, HelpAndVersionExitWithZeroWithoutWritingAnything) {
  testsupport::TempDir dir;
  const std::string logdir = dir.file("logs");
  Program help(dir, {"--logdir", logdir, "--help", "--bogus"}, MOX_DEMO_BIN, "help-");
  Program shortHelp(dir, {"-h"}, MOX_DEMO_BIN, "h-");
  Program version(dir, {"--logdir", logdir, "--version"}, MOX_DEMO_BIN, "version-");
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_EQ(shortHelp.exitCode(), 0);
  EXPECT_EQ(version.exitCode(), 0);
  EXPECT_EQ(help.out().rfind("Usage: mox-demo ", 0), 0u) << help.out();
  EXPECT_EQ(shortHelp.out(), help.out());
  EXPECT_TRUE(std::regex_match(version.out(), std::regex(R"(mox library \d+\.\d+\.\d+\n)"))) << version.out();
  EXPECT_EQ(help.err() + shortHelp.err() + version.err(), "");
  // Nothing but the runner's six output files: no log directory, no trace file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 6);
}

TEST(DemoDelivery, NothingListeningIsSaidPlainlyWithWhatToDo) {
  testsupport::TempDir dir;
  // Bound but not listening: connects are refused, and the port stays ours.
  const int held = testsupport::boundLoopbackSocket(AF_INET, 0);
  ASSERT_GE(held, 0);
  const std::string address = "127.0.0.1:" + std::to_string(testsupport::localPort(held));
  Program demo(dir, {"--collector", address, "--seconds", "1", "--threads", "1", "--logdir", dir.path()}, MOX_DEMO_BIN);
  EXPECT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  close(held);
  const std::string out = demo.out();
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      "metric data: NOT delivered: nothing was listening at " + address + ", so this run's", out);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "(./build/tools/mox-collect/mox-collect --top --listen " + address + ")",
                      out);
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      "or leave out --collector to have them written to " + dir.path() + "/mox-demo_mtdata.log.", out);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "trace file:  " + dir.path() + "/mox-demo_mox.trc\n", out);
}

TEST(DemoDelivery, ACollectorGoneDuringTheRunIsReportedAsPartlyLost) {
  testsupport::TempDir dir;
  testsupport::TcpListener collector;
  ASSERT_TRUE(collector.ok());
  const std::string address = "127.0.0.1:" + std::to_string(collector.port());
  Program demo(dir, {"--collector", address, "--seconds", "3", "--threads", "1", "--logdir", dir.path()}, MOX_DEMO_BIN);
  // The first interval arrives after a second; the two after it and the last find the collector gone
  // (two seconds' margin for a slow test thread to take it down).
  ASSERT_TRUE(collector.waitForBytes(1)) << demo.out();
  collector.down();
  EXPECT_EQ(demo.exitCode(std::chrono::seconds(60)), 0) << demo.err();
  EXPECT_PRED_FORMAT2(
      testing::IsSubstring,
      "metric data: partly lost: the collector at " + address + " was not reachable for part of the run", demo.out());
}

}  // namespace
