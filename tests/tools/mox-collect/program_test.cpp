// The mox-collect program: its command line, exit codes and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "collector_support.h"
#include "program_runner.h"

namespace {

using collecttest::Program;
using testsupport::readFile;

TEST(Program, BadCommandLinesExitWithTwoAndAMessageNamingTheProblem) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--listen"}, "--listen needs a value"},
      {{"--listen", "host:65536"}, "port from 0 to 65535"},
      {{"--listen", ":80"}, "port from 0 to 65535"},
      {{"--count", "0"}, "--count: expected a positive number"},
      {{"--timeout", "nan"}, "--timeout: expected seconds"},
      {{"--out="}, "--out: the directory name is empty"},
      {{"--json=yes"}, "--json takes no value"},
      {{"--max-depth", "0"}, "--max-depth: expected a number from 1 to 1000000, got '0'"},
      {{"--max-depth", "10K"}, "--max-depth: expected a number from 1 to 1000000, got '10K'"},
      {{"--max-element-bytes", "2G"}, "--max-element-bytes: expected a size from 1K to 1G, got '2G'"},
      {{"--max-element-memory=12k"}, "--max-element-memory: expected a size from 1K to 1024G, got '12k'"},
      {{"--listen=[::1]:0", "--interval=0.25", "--json", "--top"}, "choose one"},  // the values before are good
  };
  testsupport::TempDir dir;
  for (const auto& [args, message] : cases) {
    Program program(dir, args);
    EXPECT_EQ(program.exitCode(), 2) << message;
    const std::string err = program.err();
    EXPECT_TRUE(program.out().empty() && err.rfind("mox-collect: ", 0) == 0 && err.find(message) != std::string::npos &&
                err.find("\nTry 'mox-collect --help'.\n") != std::string::npos)
        << err;
  }
}

TEST(Program, SigtermFlushesEverythingAndPrintsTheSummaryAndASecondOneOnThePortExitsWithOne) {
  testsupport::TempDir dir;
  std::filesystem::create_directory(dir.file("raw"));
  std::ofstream(dir.file("raw/svc_4_mtdata.log")) << "earlier\n";
  Program program(dir,
                  {"--listen", "127.0.0.1:0", "--port-file", dir.file("port"), "--json", "--out", dir.file("raw")});
  ASSERT_TRUE(testsupport::waitUntil([&] { return !readFile(dir.file("port")).empty(); })) << program.err();
  const auto port = static_cast<uint16_t>(std::stoi(readFile(dir.file("port"))));
  const std::string address = "127.0.0.1:" + std::to_string(port);
  Program busy(dir, {"--listen", address}, MOX_COLLECT_BIN, "busy-");
  EXPECT_EQ(busy.exitCode(), 1);
  EXPECT_NE(busy.err().find("cannot listen on " + address), std::string::npos) << busy.err();

  const std::string svc = collecttest::sampleStream("svc_4"), web = collecttest::sampleStream("web_1");
  collecttest::Client(port).send(svc, 100);
  collecttest::Client(port).send(web);
  ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::countOf(program.out(), "\n") == 16; }));
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_NE(program.err().find("mox-collect: listening on " + address + "\n"), std::string::npos);
  const std::string summary = "summary connections=2 metrics=12 versions=2 traces=2 other=0 malformed=0 truncated=0";
  EXPECT_NE(program.err().find(summary + " bytes=" + std::to_string(svc.size() + web.size()) + "\n"), std::string::npos)
      << program.err();
  EXPECT_EQ(readFile(dir.file("raw/svc_4_mtdata.log")), "earlier\n" + svc);  // appended
  EXPECT_EQ(readFile(dir.file("raw/web_1_mtdata.log")), web);
  EXPECT_EQ(testsupport::countOf(program.out(), "\"process\":\"svc\""), 8u);
}

}  // namespace
