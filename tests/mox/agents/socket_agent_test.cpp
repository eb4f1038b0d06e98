// The socket agent against real loopback listeners: the byte stream, the agents taking part, and each change of a
// connection's state traced once.
#include "mox/agents/socket_agent.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"
#include "mox/agents/file_agent.h"
#include "ni/ni_internal.h"
#include "support/agent_test_support.h"
#include "support/tcp_listener.h"

using namespace agenttest;
using testsupport::TcpListener;

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

std::u16string text16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string text16(int n) { return text16(std::to_string(n)); }

// Each piece occurs in text as often as given.
void expectCounts(const std::string& text, std::initializer_list<std::pair<std::string, size_t>> pieces) {
  for (const auto& [piece, n] : pieces) EXPECT_EQ(countOf(text, piece), n) << piece << '\n' << text;
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
    trace();
    NiEnableTrace(NI_TRC_MASK_CONN_LOG);
    EXPECT_EQ(NiIHandlesInUse(), handlesBefore_) << "the agent left a connection open";
  }
  // The trace so far, closed.
  std::string trace() {
    trcCloseLibraryFile();
    TrcLevel.store(0);
    return readFile(traceDir_.file("agent_mox.trc"));
  }
  // An agent aimed at the main listener, with further keys.
  void makeAgent(Pairs more = {}) {
    more.insert(more.begin(), {{u"agent_host", u"127.0.0.1"}, {u"agent_port", text16(main_.port())}});
    agent_ = std::make_unique<CMTDataSendingSocketAgent>(configuredDestinations(*testConfiguration(more)));
  }
  // Sends until the agent notices that its connection is gone.
  void sendUntilBroken() {
    for (int i = 0; i < 100 && agent_->isConnected(0); ++i) agent_->sendData(u"lost;");
    EXPECT_FALSE(agent_->isConnected(0));
  }

  TempDir traceDir_;
  TcpListener main_;
  std::unique_ptr<CMTDataSendingSocketAgent> agent_;
  int handlesBefore_ = 0;
};

// Five agents, each receiving exactly what the file agent writes for the same texts.
TEST_F(SocketAgentTest, FiveAgentsReceiveTheFileAgentsBytesAndNoTextWithAnUnpairedSurrogate) {
  TempDir logDir;
  std::array<TcpListener, 4> others;
  const std::array<TcpListener*, 5> all = {&main_, &others[0], &others[1], &others[2], &others[3]};
  Pairs pairs = {{u"logdir", logDir.path16()}};
  for (int n = 2; n <= 5; ++n) {
    ASSERT_TRUE(all[size_t(n - 1)]->ok());
    pairs.insert(pairs.end(), {{u"agent_host_" + text16(n), u"localhost"},
                               {u"agent_port_" + text16(n), text16(all[size_t(n - 1)]->port())}});
  }
  makeAgent(pairs);
  ASSERT_EQ(agent_->agentCount(), 5u);
  ASSERT_TRUE(agent_->checkConnection());
  CMTDataSendingFileAgent file(logDir.path16(), u"app");
  for (const char16_t* text : {u"<metric name=\"Caf\u00e9|na\u00efve \u20ac \U0001F600:Counter\" value=\"3\" />\n", u"",
                               u"<event><calledComponent name=\"\u65e5\u672c\" /></event>\n"}) {
    agent_->sendData(text);
    file.sendData(text);
  }
  agent_->sendData(std::u16string(u"<b name=\"x") + char16_t(0xD800) + u"\"/>");
  agent_->sendData(std::u16string(u"<c") + char16_t(0xDC00) + u"/>");
  agent_->sendData(u"<d/>");
  const std::string written = readFile(logDir.file("app_mtdata.log"));
  // Non-ASCII characters travel as multi-byte UTF-8, a surrogate pair as one four-byte sequence.
  EXPECT_NE(written.find("Caf\xc3\xa9|na\xc3\xafve \xe2\x82\xac \xf0\x9f\x98\x80:"), std::string::npos);
  for (TcpListener* listener : all) {
    ASSERT_TRUE(listener->waitForBytes(written.size() + 4));
    EXPECT_EQ(listener->bytes(0), written + "<d/>");
  }
  agent_.reset();  // closes all five
  for (TcpListener* listener : all) EXPECT_TRUE(listener->waitFor([&] { return listener->open() == 0; }));
  expectCounts(trace(), {{"*** ERROR => UTF conversion error!", 2}});
}

TEST_F(SocketAgentTest, UnresolvableAgentsTakeNoPartAndTheOthersAreNumberedFromOne) {
  TcpListener second;
  ASSERT_TRUE(second.ok());
  const auto cfg = testConfiguration({{u"agent_host", u"/H/nowhere"},
                                      {u"agent_port", u"1"},
                                      {u"agent_host_2", u"127.0.0.1"},
                                      {u"agent_port_2", text16(second.port())},
                                      {u"agent_type_2", u"7"},
                                      {u"agent_host_3", u"/H/nowhere/S/3"},
                                      {u"agent_host_4", u""}});  // left out silently
  agent_ = std::make_unique<CMTDataSendingSocketAgent>(configuredDestinations(*cfg));
  ASSERT_EQ(agent_->agentCount(), 1u);
  EXPECT_EQ(agent_->agentPort(0), second.port());
  EXPECT_EQ(agent_->agentType(0), 7);
  EXPECT_TRUE(agent_->checkConnection());
  agent_->sendData(u"to the second");
  ASSERT_TRUE(second.waitForBytes(13));
  EXPECT_EQ(main_.accepted(), 0u);
  expectCounts(trace(), {{"*** ERROR => Main agent failed to be initilized due to incorrect host setting!", 1},
                         {"*** ERROR => 3rd agent failed to be initilized due to incorrect host setting!", 1},
                         {"agent failed", 2},
                         {"NI raw handle gets initialized successfully for the first time in agent 1\n", 1}});
}

// A destination that refuses for five cycles, then accepts, drops the connection mid-stream, and goes away for two
// cycles: each change is traced once, refused connects are logged once, and the next cycle reconnects.
TEST_F(SocketAgentTest, EachChangeOfTheConnectionIsTracedOnceAndTheNextCycleReconnects) {
  trace();
  trcOpenLibraryFile(u"agent", traceDir_.path16(), 1);
  main_.down();
  makeAgent();
  for (int cycle = 0; cycle < 5; ++cycle) EXPECT_FALSE(agent_->checkConnection());
  main_.up();
  EXPECT_TRUE(agent_->checkConnection());
  EXPECT_TRUE(agent_->checkConnection());  // connected: nothing new
  agent_->sendData(u"one;");
  ASSERT_TRUE(main_.waitForBytes(4));
  main_.resetConnections();
  sendUntilBroken();
  EXPECT_EQ(NiLastError().code, NIECONN_BROKEN);
  EXPECT_TRUE(agent_->checkConnection());
  agent_->sendData(u"two;");
  ASSERT_TRUE(main_.waitFor([&] { return main_.bytes(1) == "two;"; }));
  main_.down();
  sendUntilBroken();
  EXPECT_FALSE(agent_->checkConnection());
  EXPECT_FALSE(agent_->checkConnection());
  main_.up();
  EXPECT_TRUE(agent_->checkConnection());
  agent_->sendData(u"three;");
  ASSERT_TRUE(main_.waitFor([&] { return main_.bytes(2) == "three;"; }));
  EXPECT_NE(NiTraceMask() & NI_TRC_MASK_CONN_LOG, 0u) << "refused connects are logged again once restored";
  expectCounts(trace(), {{"*** ERROR => NI raw handle failed to be initilized for the first time", 1},
                         {"*** ERROR => NI raw handle failed to be initilized due to the broken connection", 1},
                         {"*** ERROR => NiRawHandleForAddr: partner '127.0.0.1:", 2},
                         {"***LOG Q0I=> NiRawHandleForAddr: partner '127.0.0.1:", 2},
                         {"*** ERROR => Failed to send metric data through the socket interface, reset by peer", 2},
                         {"NI raw handle gets restored successfully from the previous broken connection", 2}});
}

}  // namespace
