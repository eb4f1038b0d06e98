#include "mox/agents/file_agent.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"
#include "mox/agents/socket_agent.h"
#include "support/agent_test_support.h"
#include "support/file_size_limit.h"

using namespace agenttest;
using testsupport::FileSizeLimit;

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
  // Sends the texts from a fresh agent in cwd_, with the library trace open
  // at level 1; returns the trace.
  std::string sendAndTrace(std::initializer_list<const char16_t*> texts) {
    trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
    {
      ScopedCwd inCwd(cwd_.path());
      CMTDataSendingFileAgent agent;
      for (const char16_t* text : texts) agent.sendData(text);
    }
    trcCloseLibraryFile();
    return readFile(traceDir_.file("trc_mox.trc"));
  }

  TempDir logDir_, cwd_, traceDir_;
};

constexpr rlim_t kLimit = 64 * 1024;

// A file of size bytes that starts with text (sparse after it).
void makeFile(const std::string& path, const std::string& text, uintmax_t size) {
  { std::ofstream(path, std::ios::binary) << text; }
  std::filesystem::resize_file(path, size);
}

std::string tail(const std::string& path, size_t n) {
  const std::string text = readFile(path);
  return text.substr(text.size() - n);
}

TEST_F(FileAgentTest, AppendsTextsBackToBackAsUtf8) {
  configure({{u"logdir", logDir_.path16()}});
  const std::string file = logDir_.file("app_mtdata.log");
  { std::ofstream(file) << "old\n"; }
  CMTDataSendingFileAgent agent;
  EXPECT_TRUE(agent.checkConnection());
  EXPECT_EQ(agent.receiveData(), u"");
  agent.sendData(u"<metric a=\"1\" />\n");
  agent.sendData(u"caf\u00e9 \u20ac");  // no separator of its own between texts
  EXPECT_FALSE(agent.lastSendFailed());
  EXPECT_EQ(readFile(file), "old\n<metric a=\"1\" />\ncaf\xc3\xa9 \xe2\x82\xac");
}

TEST_F(FileAgentTest, MissingLogdirFallsBackToCwdAndTracesEverySwitch) {
  // '%' in the path must reach the trace as text, never as a format.
  configure({{u"logdir", logDir_.path16() + u"/missing%s%n"}});
  const std::string trace = sendAndTrace({u"first;", u"second;"});
  EXPECT_EQ(readFile(cwd_.file("app_mtdata.log")), "first;second;");
  EXPECT_EQ(countOf(trace, "Switch to current working directory due to metric data log file " + logDir_.path() +
                               "/missing%s%n/app_mtdata.log could not be opened!\n"),
            2u);
}

TEST_F(FileAgentTest, NeitherFileOpensDropsTheTextWithAnErrorLine) {
  setProcessName(u"nodir/app");  // missing directory in the fallback name too
  configure({{u"logdir", logDir_.path16() + u"/missing"}});
  const std::string trace = sendAndTrace({u"lost"});
  EXPECT_NE(trace.find("*** ERROR => NO candidated metric data log file could be created(even in the current "
                       "working directory)!"),
            std::string::npos)
      << trace;
}

TEST_F(FileAgentTest, FullDiskFallsBackWithOneErrorLineAndReportsTheRecoveryOnce) {
  configure({{u"logdir", logDir_.path16()}});
  const std::string primary = logDir_.file("app_mtdata.log");
  makeFile(primary, "old\n", kLimit);  // full: not one more byte fits
  trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
  {
    ScopedCwd inCwd(cwd_.path());
    CMTDataSendingFileAgent agent;
    {
      FileSizeLimit full(kLimit);
      for (const char16_t* text : {u"one;", u"two;", u"three;"}) {
        agent.sendData(text);
        EXPECT_FALSE(agent.lastSendFailed());
      }
    }
    agent.sendData(u"four;");  // room again
    agent.sendData(u"five;");
  }
  trcCloseLibraryFile();
  EXPECT_EQ(readFile(cwd_.file("app_mtdata.log")), "one;two;three;");
  EXPECT_EQ(std::filesystem::file_size(primary), kLimit + 10);
  EXPECT_EQ(tail(primary, 10), "four;five;");
  const std::string trace = readFile(traceDir_.file("trc_mox.trc"));
  EXPECT_EQ(
      countOf(trace, "*** ERROR => Metric data log file " + primary + " could not be written (27: File too large)"), 1u)
      << trace;
  EXPECT_EQ(countOf(trace, "Metric data log file " + primary + " is written again\n"), 1u) << trace;
  EXPECT_EQ(countOf(trace, "Switch to current working directory"), 0u);  // it opened; the error line says it all
}

TEST_F(FileAgentTest, TornTextIsCutOffAndATextThatFitsNowhereIsReportedLost) {
  configure({{u"logdir", logDir_.path16()}});
  const std::string primary = logDir_.file("app_mtdata.log");
  makeFile(primary, "old\n", kLimit - 3);  // room for 3 bytes of the text only
  makeFile(cwd_.file("app_mtdata.log"), "", kLimit);
  trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
  {
    ScopedCwd inCwd(cwd_.path());
    CMTDataSendingFileAgent agent;
    FileSizeLimit full(kLimit);
    agent.sendData(u"<metric />\n");
    EXPECT_TRUE(agent.lastSendFailed());
    agent.sendData(u"<metric />\n");
    EXPECT_TRUE(agent.lastSendFailed());
  }
  trcCloseLibraryFile();
  EXPECT_EQ(std::filesystem::file_size(primary), kLimit - 3);  // no "<me" left behind
  EXPECT_EQ(std::filesystem::file_size(cwd_.file("app_mtdata.log")), kLimit);
  const std::string trace = readFile(traceDir_.file("trc_mox.trc"));
  EXPECT_EQ(countOf(trace, "*** ERROR => Metric data log file "), 2u) << trace;  // one per file, not per text
  EXPECT_EQ(countOf(trace, "*** ERROR => Metric data log file app_mtdata.log could not be written"), 1u) << trace;
}

TEST_F(FileAgentTest, EmptyOrNulLogdirWritesToTheWorkingDirectoryWithoutSwitching) {
  for (const std::u16string& logdir : {std::u16string(), logDir_.path16() + std::u16string(1, u'\0') + u"sub"}) {
    configure({{u"logdir", logdir}});
    const std::string trace = sendAndTrace({u"x"});
    EXPECT_EQ(countOf(trace, "Switch to current working directory"), 0u) << trace;
  }
  EXPECT_EQ(readFile(cwd_.file("app_mtdata.log")), "xx");
  EXPECT_FALSE(std::filesystem::exists(logDir_.file("app_mtdata.log")));
  EXPECT_FALSE(std::filesystem::exists("/app_mtdata.log"));
}

TEST_F(FileAgentTest, NonAsciiInLogdirAndNameBecomesHash) {
  ASSERT_EQ(mkdir(logDir_.file("d#r").c_str(), 0755), 0);
  setProcessName(u"\u00e4pp\U0001F600");  // a surrogate pair gives two "#"
  configure({{u"logdir", logDir_.path16() + u"/d\u00e9r"}});
  CMTDataSendingFileAgent agent;
  agent.sendData(u"x");
  EXPECT_EQ(readFile(logDir_.file("d#r/#pp##_mtdata.log")), "x");
}

TEST(AgentFactoryTest, OnlyExactlySocketSelectsTheSocketAgent) {
  for (const char16_t* method : {u"Socket", u"socket ", u"file", u""}) {
    configure({{u"datasending_method", method}});
    EXPECT_NE(dynamic_cast<CMTDataSendingFileAgent*>(createDataSendingAgent().get()), nullptr) << trcText(method);
  }
  configure({{u"datasending_method", u"socket"}, {u"agent_host", u"127.0.0.1"}});
  EXPECT_NE(dynamic_cast<CMTDataSendingSocketAgent*>(createDataSendingAgent().get()), nullptr);
  CConfiguration::destroyInstance();
}

}  // namespace
