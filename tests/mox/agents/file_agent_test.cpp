#include "mox/agents/file_agent.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "agent_test_support.h"
#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"

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

  // Opens the library trace in its own directory at level 1; returns its path.
  std::string openTrace() {
    TrcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
    return traceDir_.path() + "/trc_mox.trc";
  }
  std::string closeAndReadTrace(const std::string& path) {
    TrcCloseLibraryFile();
    return readFile(path);
  }

  TempDir logDir_;
  TempDir cwd_;
  TempDir traceDir_;
};

size_t countOf(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
  return n;
}

TEST_F(FileAgentTest, AppendsTextsBackToBackAsUtf8) {
  configure({{u"logdir", logDir_.path16()}});
  const std::string file = logDir_.path() + "/app_mtdata.log";
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
  const std::u16string missing = logDir_.path16() + u"/missing%s%n";
  configure({{u"logdir", missing}});
  const std::string trace = openTrace();
  {
    ScopedCwd inCwd(cwd_.path());
    CMTDataSendingFileAgent agent;
    agent.sendData(u"first;");
    agent.sendData(u"second;");
  }

  EXPECT_EQ(readFile(cwd_.path() + "/app_mtdata.log"), "first;second;");
  const std::string line = "Switch to current working directory due to metric data log file " +
                           logDir_.path() + "/missing%s%n/app_mtdata.log could not be opened!\n";
  EXPECT_EQ(countOf(closeAndReadTrace(trace), line), 2u);
}

TEST_F(FileAgentTest, NeitherFileOpensDropsTheTextWithAnErrorLine) {
  setProcessName(u"nodir/app");  // missing directory in the fallback name too
  configure({{u"logdir", logDir_.path16() + u"/missing"}});
  const std::string trace = openTrace();
  {
    ScopedCwd inCwd(cwd_.path());
    CMTDataSendingFileAgent agent;
    agent.sendData(u"lost");
  }
  const std::string text = closeAndReadTrace(trace);
  EXPECT_NE(text.find("*** ERROR => NO candidated metric data log file could be created(even in the current "
                      "working directory)!"),
            std::string::npos)
      << text;
}

TEST_F(FileAgentTest, NonAsciiInLogdirAndNameBecomesHash) {
  ASSERT_EQ(mkdir((logDir_.path() + "/d#r").c_str(), 0755), 0);
  setProcessName(u"\u00e4pp\U0001F600");  // a surrogate pair gives two "#"
  configure({{u"logdir", logDir_.path16() + u"/d\u00e9r"}});

  CMTDataSendingFileAgent agent;
  agent.sendData(u"x");
  EXPECT_EQ(readFile(logDir_.path() + "/d#r/#pp##_mtdata.log"), "x");
}

TEST(AgentFactoryTest, OnlyExactlySocketSelectsTheSocketAgent) {
  for (const char16_t* method : {u"Socket", u"socket ", u"file", u""}) {
    configure({{u"datasending_method", method}});
    std::unique_ptr<CMTDataSendingAgent> agent = createDataSendingAgent();
    EXPECT_NE(dynamic_cast<CMTDataSendingFileAgent*>(agent.get()), nullptr) << trcText(method);
  }
  configure({{u"datasending_method", u"socket"}});
  EXPECT_EQ(dynamic_cast<CMTDataSendingFileAgent*>(createDataSendingAgent().get()), nullptr);
  CConfiguration::destroyInstance();
}

TEST(ProcessNameSourceTest, EmptyWithoutSource) {
  setProcessNameSource(nullptr);
  EXPECT_EQ(currentProcessName(), u"");
  setProcessName(u"srv");
  EXPECT_EQ(currentProcessName(), u"srv");
  setProcessNameSource(nullptr);
}

}  // namespace
