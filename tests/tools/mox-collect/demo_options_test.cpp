// The mox-demo command line: refusals, help and version.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "program_runner.h"

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
  // Nothing but the runner's own output files: no log directory, no trace file.
  EXPECT_FALSE(std::filesystem::exists(logdir));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.size() > 6 && (name.rfind("stdout") == name.size() - 6 || name.rfind("stderr") == name.size() - 6))
        << name;
  }
}

}  // namespace
