// The mox-collect program itself: exit codes, help, and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include "collector_support.h"
#include "program_runner.h"
#include "sample_stream.h"
#include "support/test_files.h"

namespace {

using collecttest::Program;
using testsupport::readFile;
using testsupport::waitUntil;

TEST(Program, BadCommandLinesExitWithTwoAndSayWhy) {
  const std::vector<std::vector<std::string>> cases = {{"--nope"}, {"--listen", "nowhere"}, {"--json", "--top"}};
  for (const auto& args : cases) {
    testsupport::TempDir dir;
    Program program(dir, args);
    EXPECT_EQ(program.exitCode(), 2) << args[0];
    EXPECT_EQ(program.err().rfind("mox-collect: ", 0), 0u) << program.err();
    EXPECT_NE(program.err().find("Try 'mox-collect --help'."), std::string::npos);
    EXPECT_EQ(program.out(), "");
  }
}

TEST(Program, HelpDocumentsEveryOption) {
  testsupport::TempDir dir;
  Program program(dir, {"--help"});
  EXPECT_EQ(program.exitCode(), 0);
  for (const char* option : {"--listen", "--port-file", "--json", "--out", "--top", "--interval", "--rows", "--count",
                             "--once", "--timeout", "--quiet", "--version", "--help"}) {
    EXPECT_NE(program.out().find(option), std::string::npos) << option;
  }
}

TEST(Program, ListeningFailureExitsWithOne) {
  testsupport::TempDir dir;
  collecttest::RunningCollector taken;  // holds a port
  ASSERT_TRUE(taken.start());
  Program program(dir, {"--listen", "127.0.0.1:" + std::to_string(taken.port())});
  EXPECT_EQ(program.exitCode(), 1);
  EXPECT_NE(program.err().find("cannot listen on 127.0.0.1:"), std::string::npos) << program.err();
}

TEST(Program, SigtermFlushesEverythingAndPrintsTheSummary) {
  testsupport::TempDir dir;
  Program program(dir,
                  {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--json", "--out", dir.file("raw")});
  ASSERT_TRUE(waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
  const uint16_t port = static_cast<uint16_t>(std::stoi(readFile(dir.file("port"))));

  const std::string stream = collecttest::sampleStream("svc_4");
  collecttest::Client client(port);
  ASSERT_TRUE(client.sendInPieces(stream, 100));
  ASSERT_TRUE(waitUntil([&] { return testsupport::countOf(program.out(), "\n") == 10; }));
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);

  EXPECT_NE(program.err().find("mox-collect: listening on 127.0.0.1:" + std::to_string(port) + "\n"),
            std::string::npos);
  EXPECT_NE(program.err().find("mox-collect: summary connections=1 metrics=8 versions=1 traces=1 other=0 "
                               "malformed=0 truncated=0 bytes=" +
                               std::to_string(stream.size()) + "\n"),
            std::string::npos)
      << program.err();
  EXPECT_EQ(readFile(dir.file("raw/svc_4_mtdata.log")), stream);
  EXPECT_EQ(testsupport::countOf(program.out(), "\"process\":\"svc\""), 10u);
}

TEST(Program, CountStopsAfterThatManyRecords) {
  testsupport::TempDir dir;
  Program program(dir, {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--count", "4", "--quiet"});
  ASSERT_TRUE(waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
  collecttest::Client client(static_cast<uint16_t>(std::stoi(readFile(dir.file("port")))));
  client.send(collecttest::sampleStream());
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_EQ(testsupport::countOf(program.out(), "\n"), 4u);
  EXPECT_NE(program.err().find("summary connections=1 metrics=3 versions=1 traces=0"), std::string::npos)
      << program.err();
  EXPECT_EQ(program.err().find("connection 1"), std::string::npos);  // --quiet
}

}  // namespace
