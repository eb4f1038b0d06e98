// Raw connections: connect, refusal, a connect still pending at its time-out,
// the refused-connect logging switch and the validity of handle numbers.
#include <chrono>

#include "ni_test_support.h"

using namespace nitest;
using testsupport::RefusingPort;
using testsupport::StuckListener;

namespace {

TEST_F(NiTest, ConnectsOverIPv4AndIPv6AndClosesCleanly) {
  struct Case {
    int family;
    const char16_t* host;
  };
  setenv("VEL_IPv6_ACTIVE", "1", 1);
  NiIResetIPProtoUsage();
  for (const Case& c : {Case{AF_INET, u"127.0.0.1"}, Case{AF_INET6, u"::1"}}) {
    if (c.family == AF_INET6 && !testsupport::loopbackV6Available()) continue;
    TcpListener peer(c.family);
    ASSERT_TRUE(peer.ok());
    const NI_HDL hdl = connectTo(peer.port(), c.host);
    ASSERT_NE(hdl, NI_INVALID_HDL);
    EXPECT_EQ(write(hdl, "hello"), VEL_O_K);
    EXPECT_TRUE(peer.waitForBytes(5));
    EXPECT_EQ(peer.bytes(0), "hello");
    EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
    EXPECT_TRUE(peer.waitFor([&] { return peer.open() == 0; }));  // the peer sees the end of the stream
  }
}

TEST_F(NiTest, ConnectStillPendingAtTheTimeOutIsRefusedWithinTheTimeOut) {
  StuckListener stuck;
  ASSERT_TRUE(stuck.ok());
  openTrace(2);
  const int descriptors = testsupport::openDescriptors();
  const NiHostAddr addr = addrOf(u"127.0.0.1");
  NI_HDL hdl = 42;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NiRawHandleForAddr(&addr, stuck.port(), 500, &hdl), NIECONN_REFUSED);
  const long long elapsed = msSince(start);
  EXPECT_GE(elapsed, 490);
  EXPECT_LT(elapsed, 1500);
  EXPECT_EQ(hdl, NI_INVALID_HDL);
  EXPECT_EQ(testsupport::openDescriptors(), descriptors);
  closeTrace();
  EXPECT_NE(trace().find("NiRawHandleForAddr: non-buffered connect pending after 500ms (hdl "), std::string::npos);
  EXPECT_NE(trace().find("*** ERROR => NiRawHandleForAddr: connection pending after 500ms"), std::string::npos);
}

TEST_F(NiTest, TraceMaskBit39DecidesWhetherRefusedConnectsAreLoggedAtLevel1) {
  RefusingPort refusing;
  const NiHostAddr addr = addrOf(u"127.0.0.1");
  const std::string refusal =
      "NiRawHandleForAddr: partner '127.0.0.1:" + std::to_string(refusing.port()) + "' not reached";
  NI_HDL hdl = 42;
  struct Step {
    int level;
    bool bit;
    size_t errorLines, logEntries;
  };
  for (const Step& s : {Step{1, true, 1, 1}, Step{1, false, 0, 0}, Step{2, false, 1, 0}}) {
    s.bit ? NiEnableTrace(NI_TRC_MASK_CONN_LOG) : NiDisableTrace(NI_TRC_MASK_CONN_LOG);
    EXPECT_EQ((NiTraceMask() & NI_TRC_MASK_CONN_LOG) != 0, s.bit);
    openTrace(s.level);
    EXPECT_EQ(NiRawHandleForAddr(&addr, refusing.port(), 500, &hdl), NIECONN_REFUSED);
    EXPECT_EQ(hdl, NI_INVALID_HDL);
    closeTrace();
    const std::string text = trace();
    EXPECT_EQ(countOf(text, "*** ERROR => " + refusal + " (111: Connection refused)"), s.errorLines) << text;
    EXPECT_EQ(countOf(text, "***LOG Q0I=> " + refusal + " (111: Connection refused) [ni_connect.cpp "), s.logEntries)
        << text;
  }
  openTrace(2);
  NiEnableTrace(NI_TRC_MASK_CONN_LOG);
  closeTrace();
  EXPECT_NE(trace().find("NiEnableTrace: new mask 3004018000100001\n"), std::string::npos) << trace();
  EXPECT_EQ(NiTraceMask(), NI_TRC_MASK_INITIAL);
}

TEST_F(NiTest, AClosedHandleNumberStaysInvalidWhenItsEntryIsReused) {
  TcpListener peer;
  ASSERT_TRUE(peer.ok());
  const NI_HDL first = connectTo(peer.port());
  ASSERT_EQ(NiCloseHandle(first), VEL_O_K);
  EXPECT_EQ(write(first, "x"), NIEINVAL);
  EXPECT_EQ(NiCloseHandle(first), NIEINVAL);

  const NI_HDL second = connectTo(peer.port());
  EXPECT_EQ(second / 8, first / 8) << "the lowest free entry is handed out again";
  EXPECT_EQ(second % 8, (first + 1) % 8) << "with the next reuse count";
  EXPECT_EQ(write(first, "stale"), NIEINVAL);
  EXPECT_EQ(NiLastError().text, "internal error\n(this retcode should be handled by caller of NI-layer)\ninvalid hdl " +
                                    std::to_string(first));
  EXPECT_EQ(NiCloseHandle(first), NIEINVAL);
  EXPECT_EQ(write(second, "fresh"), VEL_O_K);
  EXPECT_TRUE(peer.waitForBytes(5));
  EXPECT_EQ(peer.allBytes(), "fresh");
  EXPECT_EQ(NiCloseHandle(second), VEL_O_K);
}

TEST_F(NiTest, InvalidArgumentsAndHandlesGiveInval) {
  TcpListener peer;
  ASSERT_TRUE(peer.ok());
  const NI_HDL hdl = connectTo(peer.port());
  char buf[4];
  int32_t n = 0;
  EXPECT_EQ(NiRawWrite(hdl, nullptr, 1, 100, &n), NIEINVAL);
  EXPECT_EQ(NiRawWrite(hdl, buf, -1, 100, &n), NIEINVAL);
  EXPECT_EQ(NiRawWrite(hdl, buf, 1, 100, nullptr), NIEINVAL);
  EXPECT_EQ(NiRawRead(hdl, nullptr, 4, 100, &n), NIEINVAL);
  EXPECT_EQ(NiRawRead(hdl, buf, 4, 100, nullptr), NIEINVAL);
  EXPECT_EQ(NiRawRead(hdl, buf, 0, 100, &n), NIETOO_SMALL);
  for (NI_HDL bad : {NI_INVALID_HDL, NI_HDL_TABLE_SIZE * 8, NI_HDL_TABLE_SIZE * 8 - 1, hdl + 1}) {
    EXPECT_EQ(NiRawWrite(bad, buf, 1, 100, &n), NIEINVAL) << bad;
    EXPECT_EQ(NiRawRead(bad, buf, 4, 100, &n), NIEINVAL) << bad;
    EXPECT_EQ(NiCloseHandle(bad), NIEINVAL) << bad;
  }
  NI_HDL out;
  EXPECT_EQ(NiRawHandleForAddr(nullptr, 1, 100, &out), NIEINVAL);
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

}  // namespace
