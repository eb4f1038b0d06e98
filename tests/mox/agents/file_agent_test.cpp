#include "mox/agents/file_agent.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "agent_test_support.h"
#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"
#include "mox/agents/socket_agent.h"

using namespace agenttest;

namespace {

class FileAgentTest : public ::testing::Test {
 protected:
  void SetUp() override { setProcessName(u"app"); }
  void TearDown() override {
    TrcCloseLibraryFile();
    TrcLevel.store(0);  // closing keeps the level; later lines would go to stderr
    setProcessNameSource(nullptr);
    CConfiguration::destroyInstance();
  }
  // Sends the texts from a fresh agent in cwd_, with the library trace open
  // at level 1; returns the trace.
  std::string sendAndTrace(std::initializer_list<const char16_t*> texts) {
    TrcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
    {
      ScopedCwd inCwd(cwd_.path());
      CMTDataSendingFileAgent agent;
      for (const char16_t* text : texts) agent.sendData(text);
    }
    TrcCloseLibraryFile();
    return readFile(traceDir_.file("trc_mox.trc"));
  }

  TempDir logDir_, cwd_, traceDir_;
};

TEST_F(FileAgentTest, AppendsTextsBackToBackAsUtf8) {
  configure({{u"logdir", logDir_.path16()}});
  const std::string file = logDir_.file("app_mtdata.log");
  { std::ofstream(file) << "old\n"; }
  CMTDataSendingFileAgent agent;
  EXPECT_TRUE(agent.checkConnection());
  EXPECT_EQ(agent.receiveData(), u"");
  agent.sendData(u"<metric a=\"1\" />\n");
  agent.sendData(u"caf\u00e9 \u20ac");  // no separator of its own between texts
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
