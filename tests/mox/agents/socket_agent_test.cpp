// The socket agent against real loopback listeners: the byte stream, the
// agents taking part, and each change of a connection's state traced once.
#include "mox/agents/socket_agent.h"

#include <gtest/gtest.h>

#include <memory>

#include "dptrc/dptrc.h"
#include "mox/agents/file_agent.h"
#include "ni/ni_internal.h"
#include "support/agent_test_support.h"
#include "support/tcp_listener.h"

using namespace agenttest;
using testsupport::TcpListener;

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

std::u16string port16(uint16_t port) {
  const std::string digits = std::to_string(port);
  return std::u16string(digits.begin(), digits.end());
}

class SocketAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(main_.ok());
    handlesBefore_ = NiIHandlesInUse();
    trcOpenLibraryFile(u"agent", traceDir_.path16(), 2);
  }
  void TearDown() override {
    agent_.reset();
    closeTrace();
    NiEnableTrace(NI_TRC_MASK_CONN_LOG);
    CConfiguration::destroyInstance();
    EXPECT_EQ(NiIHandlesInUse(), handlesBefore_) << "the agent left a connection open";
  }
  void closeTrace() {
    trcCloseLibraryFile();
    TrcLevel.store(0);
  }
  std::string trace() const { return readFile(traceDir_.file("agent_mox.trc")); }

  // An agent aimed at the main listener, with further keys.
  void makeAgent(Pairs more = {}) {
    Pairs pairs = {{u"agent_host", u"127.0.0.1"}, {u"agent_port", port16(main_.port())}};
    pairs.insert(pairs.end(), more.begin(), more.end());
    configure(pairs);
    agent_ = std::make_unique<CMTDataSendingSocketAgent>();
  }

  TempDir traceDir_;
  TcpListener main_;
  std::unique_ptr<CMTDataSendingSocketAgent> agent_;
  int handlesBefore_ = 0;
};

TEST_F(SocketAgentTest, SendsExactlyTheBytesTheFileAgentWrites) {
  TempDir logDir;
  setProcessName(u"app");
  makeAgent({{u"logdir", logDir.path16()}});
  const std::u16string texts[] = {
      u"<metric type=\"StringEvent\" name=\"VEL_MOX|app_0:MOX library version\" value=\"2.3.6\" />\n",
      u"<metric type=\"IntAverage\" name=\"VEL_MOX|app_0|Caf\u00e9|na\u00efve \u20ac \U0001F600:Finished Counter\" "
      u"value=\"3\" />\n",
      u"",
      u"<event><calledComponent name=\"\u65e5\u672c\" /></event>\n",
  };
  ASSERT_TRUE(agent_->checkConnection());
  CMTDataSendingFileAgent file;
  for (const std::u16string& text : texts) {
    agent_->sendData(text);
    file.sendData(text);
  }
  const std::string written = readFile(logDir.file("app_mtdata.log"));
  ASSERT_TRUE(main_.waitForBytes(written.size()));
  EXPECT_EQ(main_.bytes(0), written);
  // Non-ASCII characters travel as multi-byte UTF-8, a surrogate pair as one four-byte sequence.
  EXPECT_NE(written.find("Caf\xc3\xa9|na\xc3\xafve \xe2\x82\xac \xf0\x9f\x98\x80:"), std::string::npos);
  EXPECT_EQ(main_.accepted(), 1u);
  setProcessNameSource(nullptr);
}

TEST_F(SocketAgentTest, TextWithAnUnpairedSurrogateIsNotSentAtAll) {
  makeAgent();
  ASSERT_TRUE(agent_->checkConnection());
  agent_->sendData(u"<a/>");
  agent_->sendData(std::u16string(u"<b name=\"x") + char16_t(0xD800) + u"\"/>");
  agent_->sendData(std::u16string(u"<c") + char16_t(0xDC00) + u"/>");
  agent_->sendData(u"<d/>");
  ASSERT_TRUE(main_.waitForBytes(8));
  closeTrace();
  EXPECT_EQ(main_.allBytes(), "<a/><d/>");
  EXPECT_EQ(countOf(trace(), "*** ERROR => UTF conversion error!"), 2u);
  EXPECT_EQ(countOf(trace(), "Send metric data through the socket interface successfully in agent 1\n"), 2u);
}

TEST_F(SocketAgentTest, UnresolvableAgentsTakeNoPartAndTheOthersAreNumberedFromOne) {
  TcpListener second;
  ASSERT_TRUE(second.ok());
  configure({{u"agent_host", u"/H/nowhere"},
             {u"agent_port", u"1"},
             {u"agent_host_2", u"127.0.0.1"},
             {u"agent_port_2", port16(second.port())},
             {u"agent_type_2", u"7"},
             {u"agent_host_3", u"/H/nowhere/S/3"},
             {u"agent_host_4", u""}});
  agent_ = std::make_unique<CMTDataSendingSocketAgent>();
  ASSERT_EQ(agent_->agentCount(), 1u);
  EXPECT_EQ(agent_->agentPort(0), second.port());
  EXPECT_EQ(agent_->agentType(0), 7);
  EXPECT_TRUE(agent_->checkConnection());
  agent_->sendData(u"to the second");
  ASSERT_TRUE(second.waitForBytes(13));
  closeTrace();
  const std::string text = trace();
  EXPECT_EQ(countOf(text, "*** ERROR => Main agent failed to be initilized due to incorrect host setting!"), 1u);
  EXPECT_EQ(countOf(text, "*** ERROR => 3rd agent failed to be initilized due to incorrect host setting!"), 1u);
  EXPECT_EQ(countOf(text, "agent failed to be initilized"), 2u) << "an empty host is left out silently";
  EXPECT_EQ(countOf(text, "NI raw handle gets initialized successfully for the first time in agent 1\n"), 1u);
  EXPECT_EQ(countOf(text, "NI raw handle gets initialized successfully  in agent 1\n"), 1u);
  EXPECT_EQ(main_.accepted(), 0u);
}

TEST_F(SocketAgentTest, RefusingDestinationIsReportedOnceThenSilentUntilRestored) {
  closeTrace();
  trcOpenLibraryFile(u"agent", traceDir_.path16(), 1);
  main_.down();
  makeAgent();
  for (int cycle = 0; cycle < 5; ++cycle) EXPECT_FALSE(agent_->checkConnection());
  EXPECT_EQ(NiTraceMask() & NI_TRC_MASK_CONN_LOG, 0u) << "refused connects are no longer logged";
  main_.up();
  EXPECT_TRUE(agent_->checkConnection());
  EXPECT_TRUE(agent_->checkConnection());  // connected: nothing new
  EXPECT_NE(NiTraceMask() & NI_TRC_MASK_CONN_LOG, 0u);
  closeTrace();
  const std::string text = trace();
  const std::string notReached =
      "NiRawHandleForAddr: partner '127.0.0.1:" + std::to_string(main_.port()) + "' not reached";
  EXPECT_EQ(countOf(text,
                    "*** ERROR => NI raw handle failed to be initilized for the first time, connection to agent "
                    "destination failed to be established  in agent 1"),
            1u)
      << text;
  EXPECT_EQ(countOf(text, "*** ERROR => " + notReached), 1u) << text;
  EXPECT_EQ(countOf(text, "***LOG Q0I=> " + notReached), 1u) << text;
  EXPECT_EQ(countOf(text, "*** ERROR => "), 2u) << text;
  EXPECT_EQ(countOf(text, "NI raw handle gets restored successfully from the previous broken connection in agent 1\n"),
            1u)
      << text;
  EXPECT_EQ(countOf(text, "for the first time in agent 1"), 0u) << text;
}

TEST_F(SocketAgentTest, LostConnectionIsReopenedAtTheNextCycle) {
  makeAgent();
  ASSERT_TRUE(agent_->checkConnection());
  agent_->sendData(u"one;");
  ASSERT_TRUE(main_.waitForBytes(4));

  // The listener drops the connection mid-stream: the write fails, the next cycle reconnects.
  main_.resetConnections();
  for (int i = 0; i < 100 && agent_->isConnected(0); ++i) agent_->sendData(u"lost;");
  EXPECT_FALSE(agent_->isConnected(0));
  EXPECT_EQ(NiLastError().code, NIECONN_BROKEN);
  EXPECT_TRUE(agent_->checkConnection());
  agent_->sendData(u"two;");
  ASSERT_TRUE(main_.waitFor([&] { return main_.bytes(1) == "two;"; }));

  // Gone for a cycle: one error line, then the restore once.
  main_.down();
  for (int i = 0; i < 100 && agent_->isConnected(0); ++i) agent_->sendData(u"lost;");
  EXPECT_FALSE(agent_->checkConnection());
  EXPECT_FALSE(agent_->checkConnection());
  main_.up();
  EXPECT_TRUE(agent_->checkConnection());
  agent_->sendData(u"three;");
  ASSERT_TRUE(main_.waitFor([&] { return main_.bytes(2) == "three;"; }));
  closeTrace();
  const std::string text = trace();
  EXPECT_EQ(countOf(text,
                    "*** ERROR => Failed to send metric data through the socket interface, reset by peer in "
                    "agent 1"),
            2u)
      << text;
  EXPECT_EQ(countOf(text,
                    "*** ERROR => NI raw handle failed to be initilized due to the broken connection, "
                    "connection to agent destination failed to be established  in agent 1"),
            1u)
      << text;
  EXPECT_EQ(countOf(text, "NI raw handle gets restored successfully from the previous broken connection in agent 1\n"),
            1u);
  EXPECT_EQ(countOf(text, "NI raw handle gets initialized successfully  in agent 1\n"), 3u);
  EXPECT_EQ(countOf(text, "for the first time in agent 1\n"), 1u);
}

TEST_F(SocketAgentTest, FiveAgentsReceiveTheSameStream) {
  std::vector<std::unique_ptr<TcpListener>> others;
  std::vector<TcpListener*> all = {&main_};
  Pairs pairs;
  for (int n = 2; n <= 5; ++n) {
    others.push_back(std::make_unique<TcpListener>());
    ASSERT_TRUE(others.back()->ok());
    all.push_back(others.back().get());
    pairs.push_back({u"agent_host_" + port16(n), u"localhost"});
    pairs.push_back({u"agent_port_" + port16(n), port16(others.back()->port())});
  }
  makeAgent(pairs);
  ASSERT_EQ(agent_->agentCount(), 5u);
  ASSERT_TRUE(agent_->checkConnection());
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    const std::string line = "<metric n=\"" + std::to_string(i) + "\" />\n";
    agent_->sendData(std::u16string(line.begin(), line.end()));
    expected += line;
  }
  for (TcpListener* listener : all) {
    ASSERT_TRUE(listener->waitForBytes(expected.size()));
    EXPECT_EQ(listener->bytes(0), expected);
  }
  agent_.reset();  // closes all five
  for (TcpListener* listener : all) EXPECT_TRUE(listener->waitFor([&] { return listener->open() == 0; }));
}

TEST_F(SocketAgentTest, ReceivesWhatTheMainAgentSendsBack) {
  makeAgent();
  EXPECT_EQ(agent_->receiveData(), u"") << "not connected yet";
  ASSERT_TRUE(agent_->checkConnection());
  ASSERT_TRUE(main_.waitFor([&] { return main_.open() == 1; }));
  main_.sendToAll("ok \xc3\xa9 \xff");
  EXPECT_EQ(agent_->receiveData(), u"ok \u00e9 \uFFFD");
}

}  // namespace
