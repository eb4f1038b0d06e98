// The mox-collect program: its command line, exit codes and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
      {{"--prometheus", "9464"}, "--prometheus: expected HOST:PORT"},
      {{"--prometheus-expiry", "0"}, "--prometheus-expiry: expected a number from 1 to 1000, got '0'"},
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
  Program program(dir, collecttest::listening(dir, {"--json", "--out", dir.file("raw")}));
  const uint16_t port = collecttest::portOf(dir);
  ASSERT_NE(port, 0) << program.err();
  const std::string address = "127.0.0.1:" + std::to_string(port);
  // Another one on that port, or a page on a named host: exit code 1 and the reason.
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--listen", address}, "cannot listen on " + address},
      {{"--listen", "127.0.0.1:0", "--prometheus", address}, "cannot serve Prometheus metrics on " + address},
      {{"--listen", "127.0.0.1:0", "--http", address}, "--http: cannot listen on " + address},
      {{"--listen", "127.0.0.1:0", "--http", "localhost:0"}, "--http: the host must be an IP address"},
  };
  for (const auto& [args, message] : refused) {
    Program busy(dir, args, MOX_COLLECT_BIN, "busy-");
    EXPECT_EQ(busy.exitCode(), 1) << message;
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "mox-collect: " + message, busy.err());
  }

  const std::string svc = collecttest::sampleStream("svc_4"), web = collecttest::sampleStream("web_1");
  collecttest::Client(port).send(svc, 100);
  collecttest::Client(port).send(web);
  ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::countOf(program.out(), "\n") == 16; }));
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "mox-collect: listening on " + address + "\n", program.err());
  const std::string summary = "summary connections=2 metrics=12 versions=2 traces=2 other=0 malformed=0 truncated=0";
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      summary + " bytes=" + std::to_string(svc.size() + web.size()) +
                          " idle_closed=0 evicted=0 refused=0 over_budget=0 sink_dropped=0 top_dropped=0"
                          " file_overflow=0 prometheus_malformed=0 prometheus_refused=0\n",
                      program.err());
  EXPECT_EQ(readFile(dir.file("raw/svc_4_mtdata.log")), "earlier\n" + svc);  // appended
  EXPECT_EQ(readFile(dir.file("raw/web_1_mtdata.log")), web);
  EXPECT_EQ(testsupport::countOf(program.out(), "\"process\":\"svc\""), 8u);
}

// Silent peers take every slot the descriptor limit leaves; a library host still gets in.
TEST(Program, UnderALowDescriptorLimitSilentPeersMakeRoomForALibraryHost) {
  testsupport::TempDir dir;
  const std::string command = "ulimit -n 128 && exec " + std::string(MOX_COLLECT_BIN) +
                              " --listen 127.0.0.1:0 --port-file " + dir.file("port") + " --quiet";
  Program program(dir, {"-c", command}, "/bin/sh");
  const uint16_t port = collecttest::portOf(dir);
  ASSERT_NE(port, 0) << program.err();
  std::vector<std::unique_ptr<collecttest::Client>> silent;
  for (int i = 0; i < 200; ++i) silent.push_back(std::make_unique<collecttest::Client>(port));
  const std::string stream = collecttest::sampleStream("svc_4");
  collecttest::Client host(port);
  ASSERT_TRUE(host.send(stream));
  ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::countOf(program.out(), "\n") == 8; })) << program.err();
  program.signal(SIGTERM);
  EXPECT_EQ(program.exitCode(), 0);
  // 128 descriptors leave 64 connections: the 137 longest idle of the 201 made room.
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      "summary connections=201 metrics=6 versions=1 traces=1 other=0 malformed=0 truncated=0 "
                      "bytes=" +
                          std::to_string(stream.size()) + " idle_closed=0 evicted=137 refused=0 ",
                      program.err());
}

// A pipe on standard output that nobody reads: the collector reads every
// record all the same, drops what its queue cannot hold, and ends.
TEST(Program, ABlockedStandardOutputDoesNotStopTheReadingAndTheDroppedRecordsAreCounted) {
  testsupport::TempDir dir;
  int output[2];
  ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
  constexpr int kLines = 20000;
  Program program(
      dir, collecttest::listening(dir, {"--json", "--queue-mib", "1", "--count", std::to_string(kLines), "--quiet"}),
      MOX_COLLECT_BIN, "", output[1]);
  const uint16_t port = collecttest::portOf(dir);
  ASSERT_NE(port, 0) << program.err();
  std::string lines;
  for (int i = 0; i < kLines; ++i) {
    lines +=
        "<metric type=\"IntAverage\" name=\"S|p_1|A|b" + std::to_string(i) + ":Finished Counter\" value=\"1\" />\n";
  }
  ASSERT_TRUE(collecttest::Client(port).send(lines));
  EXPECT_EQ(program.exitCode(), 1);  // stopped at the count, the output given up
  const std::string err = program.err();
  EXPECT_PRED_FORMAT2(testing::IsSubstring,
                      "mox-collect: output blocked, stopped without writing the records still waiting\n", err);
  const size_t at = err.find("summary connections=1 metrics=20000 ");
  ASSERT_NE(at, std::string::npos) << err;
  const size_t dropped = std::stoul(err.substr(err.find("sink_dropped=", at) + 13));
  EXPECT_GT(dropped, 10000u);  // 1 MiB holds about a thousand records, the pipe a few hundred lines
  ::close(output[0]);
  ::close(output[1]);
}

// The scripted check of the collector's README, run as it stands there.
TEST(Program, TheReadmesScriptedCheckRunsAsWritten) {
  const std::string readme = readFile(MOX_COLLECT_README);
  const size_t intro = readme.find("For a scripted check");
  ASSERT_NE(intro, std::string::npos);
  std::string script;
  std::istringstream lines(readme.substr(readme.find("\n\n", intro) + 2));
  for (std::string line; std::getline(lines, line) && line.rfind("    ", 0) == 0;) script += line.substr(4) + "\n";
  for (const auto& [path, binary] :
       {std::pair<std::string, std::string>{"./build/tools/mox-collect/mox-collect", MOX_COLLECT_BIN},
        {"./build/tools/mox-demo", MOX_DEMO_BIN}}) {
    ASSERT_NE(script.find(path), std::string::npos) << script;
    for (size_t at = script.find(path); at != std::string::npos; at = script.find(path, at + binary.size())) {
      script.replace(at, path.size(), binary);
    }
  }
  testsupport::TempDir dir;
  Program check(dir, {"-c", "cd " + dir.path() + " || exit 1\n" + script}, "/bin/sh");
  ASSERT_EQ(check.exitCode(std::chrono::seconds(90)), 0) << check.err();
  EXPECT_EQ(check.out().rfind("mox-collect: summary connections=2 metrics=", 0), 0u) << check.out() << check.err();
  EXPECT_NE(readFile(dir.file("records.jsonl")).find("\"kind\":\"metric\""), std::string::npos);
}

}  // namespace
