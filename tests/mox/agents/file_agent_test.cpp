#include "mox/agents/file_agent.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "dptrc/dptrc.h"
#include "support/agent_test_support.h"
#include "support/child_process.h"
#include "support/file_size_limit.h"

using namespace agenttest;

namespace {

class FileAgentTest : public ::testing::Test {
 protected:
  void TearDown() override {
    trcCloseLibraryFile();
    TrcLevel.store(0);  // closing keeps the level; later lines would go to stderr
  }
  TempDir logDir_, traceDir_, cwd_;
  const std::string primary_ = logDir_.file("app_mtdata.log"), fallback_ = cwd_.file("app_mtdata.log");
};

TEST_F(FileAgentTest, TextsGoToTheLogdirOrElseToTheWorkingDirectory) {
  ASSERT_EQ(mkdir(logDir_.file("d#r").c_str(), 0755), 0);
  const std::u16string log = logDir_.path16();
  struct Case {
    std::u16string name, logdir;
    std::string file;  // relative: in the working directory; empty: none
    size_t switches;
  };
  // '%' in a path must reach the trace as text, never as a format; characters beyond ASCII become '#'.
  const Case cases[] = {
      {u"app", log, logDir_.file("app_mtdata.log"), 0},
      {u"app", log + u"/missing%s%n", "app_mtdata.log", 2},
      {u"app", u"", "app_mtdata.log", 0},
      {u"app", log + std::u16string(1, u'\0') + u"sub", "app_mtdata.log", 0},
      {u"\u00e4pp\U0001F600", log + u"/d\u00e9r", logDir_.file("d#r/#pp##_mtdata.log"), 0},
      {u"nodir/app", log + u"/missing", "", 2},  // a missing directory in the fallback name too: lost
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trcText(c.logdir));
    TempDir cwd;
    trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
    {
      ScopedCwd inCwd(cwd.path());
      CMTDataSendingFileAgent agent(c.logdir, c.name);
      agent.sendData(u"one;");
      agent.sendData(u"two;");
    }
    trcCloseLibraryFile();
    const std::string trace = readFile(traceDir_.file("trc_mox.trc"));
    EXPECT_EQ(readFile(c.file[0] == '/' ? c.file : cwd.file(c.file)), c.file.empty() ? "" : "one;two;");
    EXPECT_EQ(countOf(trace, "*** ERROR => NO candidated metric data log file could be created"),
              c.file.empty() ? 2u : 0u);
    EXPECT_EQ(countOf(trace, "Switch to current working directory"), c.switches);
    EXPECT_EQ(countOf(trace, "log file " + trcText(c.logdir + u"/" + c.name) + "_mtdata.log could not be opened!\n"),
              c.switches);
  }
}

// A full disk: the torn text is cut off, the text goes to the working directory, one error line per agent, file and
// change of state, not per text.
TEST_F(FileAgentTest, FullDiskFallsBackWithOneErrorLineAndReportsTheRecoveryOnce) {
  constexpr rlim_t kLimit = 64 * 1024;
  { std::ofstream(primary_, std::ios::binary) << "old\n"; }
  std::filesystem::resize_file(primary_, kLimit - 3);  // room for three bytes of a text
  trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
  {
    ScopedCwd inCwd(cwd_.path());
    CMTDataSendingFileAgent agent(logDir_.path16(), u"app");
    {
      testsupport::FileSizeLimit full(kLimit);
      for (const char16_t* text : {u"one;", u"two;", u"three;"}) {
        agent.sendData(text);
        EXPECT_FALSE(agent.lastSendFailed());
      }
      EXPECT_EQ(readFile(fallback_), "one;two;three;");
      std::filesystem::resize_file(fallback_, kLimit);  // full as well: the text is lost
      agent.sendData(u"four;");
      EXPECT_TRUE(agent.lastSendFailed());
      CMTDataSendingFileAgent other(logDir_.path16(), u"app");  // the trace agent beside the data agent: its own lines
      other.sendData(u"lost;");
    }
    agent.sendData(u"five;");  // room again
    agent.sendData(u"six;");
  }
  trcCloseLibraryFile();
  EXPECT_EQ(std::filesystem::file_size(primary_), kLimit - 3 + 9);  // appended, no torn text left behind
  EXPECT_EQ(readFile(primary_).substr(kLimit - 3), "five;six;");
  const std::string trace = readFile(traceDir_.file("trc_mox.trc"));
  for (const auto& [line, count] :
       {std::pair{"*** ERROR => Metric data log file " + primary_ + " could not be written (27: File", 2u},
        {"*** ERROR => Metric data log file app_mtdata.log could not be written", 2u},
        {"Metric data log file " + primary_ + " is written again\n", 1u}})
    EXPECT_EQ(countOf(trace, line), count) << line << '\n' << trace;
  EXPECT_EQ(countOf(trace, "Switch to current working directory"), 0u);  // it opened; the error line says it all
}

// The metric data file is a FIFO whose reader keeps closing and opening it again (a collector that restarts). A reader
// that closes between the agent's open and its write makes the write fail with EPIPE, which by default ends the host
// with SIGPIPE. The reader toggles until the agent has met that case (its trace says so) or the child ended, within a
// time limit; on a machine too busy to meet the case in time there is nothing to check.
TEST_F(FileAgentTest, FifoWhoseReaderComesAndGoesNeverEndsTheHost) {
  const std::string stop = cwd_.file("stop");
  ASSERT_EQ(mkfifo(primary_.c_str(), 0644), 0);
  const pid_t child = testsupport::startChild([&] {
    trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
    ScopedCwd inCwd(cwd_.path());
    CMTDataSendingFileAgent agent(logDir_.path16(), u"app");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (access(stop.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < limit) {
      for (int i = 0; i < 20; ++i) agent.sendData(u"<metric />\n");
    }
    trcCloseLibraryFile();
    return 0;
  });
  ASSERT_GT(child, 0);
  const std::string trace = traceDir_.file("trc_mox.trc");
  bool brokenPipe = false;
  testsupport::waitUntil([&] {
    for (int i = 0; i < 50; ++i) {
      const int reader = open(primary_.c_str(), O_RDONLY | O_NONBLOCK);
      char buffer[65536];
      while (reader >= 0 && read(reader, buffer, sizeof buffer) > 0) {
      }
      if (reader >= 0) close(reader);
    }
    brokenPipe = countOf(readFile(trace), " could not be written (32: Broken pipe)") > 0;
    return brokenPipe || testsupport::hasEnded(child);
  });
  { std::ofstream(stop) << "stop\n"; }
  const testsupport::ChildEnd end = testsupport::waitForChild(child);
  EXPECT_TRUE(end.succeeded()) << end.describe();
  if (end.succeeded() && !brokenPipe) GTEST_SKIP() << "the reader never left between the agent's open and write";
}

}  // namespace
