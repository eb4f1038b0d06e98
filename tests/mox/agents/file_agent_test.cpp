#include "mox/agents/file_agent.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "dptrc/dptrc.h"
#include "support/agent_test_support.h"
#include "support/file_size_limit.h"

using namespace agenttest;

namespace {

class FileAgentTest : public ::testing::Test {
 protected:
  void SetUp() override { setProcessName(u"app"); }
  void TearDown() override {
    trcCloseLibraryFile();
    TrcLevel.store(0);  // closing keeps the level; later lines would go to stderr
    setProcessNameSource(nullptr);
    CConfiguration::destroyInstance();
  }
  TempDir logDir_, traceDir_;
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
    setProcessName(c.name);
    configure({{u"logdir", c.logdir}});
    trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
    {
      ScopedCwd inCwd(cwd.path());
      CMTDataSendingFileAgent agent;
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

// A full disk: the torn text is cut off, the text goes to the working
// directory, one error line per agent, file and change of state, not per text.
TEST_F(FileAgentTest, FullDiskFallsBackWithOneErrorLineAndReportsTheRecoveryOnce) {
  constexpr rlim_t kLimit = 64 * 1024;
  TempDir cwd;
  configure({{u"logdir", logDir_.path16()}});
  const std::string primary = logDir_.file("app_mtdata.log"), fallback = cwd.file("app_mtdata.log");
  { std::ofstream(primary, std::ios::binary) << "old\n"; }
  std::filesystem::resize_file(primary, kLimit - 3);  // room for three bytes of a text
  trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
  {
    ScopedCwd inCwd(cwd.path());
    CMTDataSendingFileAgent agent;
    {
      testsupport::FileSizeLimit full(kLimit);
      for (const char16_t* text : {u"one;", u"two;", u"three;"}) {
        agent.sendData(text);
        EXPECT_FALSE(agent.lastSendFailed());
      }
      EXPECT_EQ(readFile(fallback), "one;two;three;");
      std::filesystem::resize_file(fallback, kLimit);  // full as well: the text is lost
      agent.sendData(u"four;");
      EXPECT_TRUE(agent.lastSendFailed());
      CMTDataSendingFileAgent other;  // the trace agent beside the data agent: its own lines
      other.sendData(u"lost;");
    }
    agent.sendData(u"five;");  // room again
    agent.sendData(u"six;");
  }
  trcCloseLibraryFile();
  EXPECT_EQ(std::filesystem::file_size(primary), kLimit - 3 + 9);  // appended, no torn text left behind
  EXPECT_EQ(readFile(primary).substr(kLimit - 3), "five;six;");
  const std::string trace = readFile(traceDir_.file("trc_mox.trc"));
  for (const auto& [line, count] :
       {std::pair{"*** ERROR => Metric data log file " + primary + " could not be written (27: File", 2u},
        {"*** ERROR => Metric data log file app_mtdata.log could not be written", 2u},
        {"Metric data log file " + primary + " is written again\n", 1u}})
    EXPECT_EQ(countOf(trace, line), count) << line << '\n' << trace;
  EXPECT_EQ(countOf(trace, "Switch to current working directory"), 0u);  // it opened; the error line says it all
}

}  // namespace
