// Raw connections, writes and reads: partial sends, time-outs, dead peers, handle numbers.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "ni_test_support.h"

using namespace nitest;
using Clock = std::chrono::steady_clock;

namespace {

TEST_F(NiTest, LargeBufferArrivesWholeOverIPv4AndIPv6) {
  ipv6Active("1");
  std::string bytes(8 << 20, '\0');  // far beyond the socket buffers: partial sends and waits
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  for (const auto& [family, host] : {std::pair{AF_INET, u"127.0.0.1"}, std::pair{AF_INET6, u"::1"}}) {
    if (family == AF_INET6 && !testsupport::loopbackV6Available()) continue;
    TcpListener peer(family);
    ASSERT_TRUE(peer.ok());
    const NI_HDL hdl = connectTo(peer.port(), host);
    int32_t written = 0;
    EXPECT_EQ(write(hdl, bytes, 20000, &written), VEL_O_K);
    EXPECT_EQ(written, static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(write(hdl, ""), VEL_O_K);
    ASSERT_TRUE(peer.waitForBytes(bytes.size()));
    EXPECT_TRUE(peer.bytes(0) == bytes);
    EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
    EXPECT_TRUE(peer.waitFor([&] { return peer.open() == 0; }));  // the peer sees the end of the stream
  }
}

// Reads what arrives in small bites on a thread of its own, as a collector on a slow link does, so that the writer's
// waits keep ending well inside the time-out; it gives up after a few seconds, which bounds a writer that would never
// time out.
class DrainingPeer {
 public:
  explicit DrainingPeer(int fd)
      : fd_(fd), thread_([this] {
          char bite[64 << 10];
          const auto end = Clock::now() + std::chrono::seconds(5);
          while (!stop_.load() && Clock::now() < end) {
            recv(fd_, bite, sizeof bite, MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the pace of the link
          }
        }) {}
  ~DrainingPeer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }

 private:
  const int fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The time-out bounds the whole call: against a peer that never reads and against one that keeps reading too slowly for
// 64 MiB to go out in time.
TEST_F(NiTest, ConnectsAndWritesThatTimeOutFailWithinTheTimeOutAndLeaveNothingOpen) {
  testsupport::StuckListener stuck;  // never accepts: connects stay pending
  ASSERT_TRUE(stuck.ok());
  UnreadPeer peers;
  const NiHostAddr addr = addrOf(u"127.0.0.1");
  const std::string bytes(64 << 20, 't');
  openTrace(1);
  const int descriptors = testsupport::openDescriptors();
  for (bool select : {false, true}) {
    SiUseSelect(select);
    NI_HDL hdl = 42;
    auto start = Clock::now();
    EXPECT_EQ(NiRawHandleForAddr(&addr, stuck.port(), 500, &hdl), NIECONN_REFUSED);
    EXPECT_GE(msSince(start), 490);
    EXPECT_LT(msSince(start), 1500);
    EXPECT_EQ(hdl, NI_INVALID_HDL);
    EXPECT_EQ(testsupport::openDescriptors(), descriptors);
    for (bool draining : {false, true}) {
      SCOPED_TRACE(std::string(select ? "select, " : "poll, ") + (draining ? "draining peer" : "unread peer"));
      hdl = connectTo(peers.port());
      const int peer = peers.acceptOne();
      std::optional<DrainingPeer> reader;
      if (draining) reader.emplace(peer);
      int32_t written = 0;
      start = Clock::now();
      EXPECT_EQ(write(hdl, bytes, 300, &written), NIETIMEOUT);
      EXPECT_GE(msSince(start), 290);
      EXPECT_LT(msSince(start), 2000);
      EXPECT_GT(written, 0);  // what went out stays sent
      EXPECT_EQ(NiLastError().text, "timeout occured\nhdl " + std::to_string(hdl) +
                                        " sent incomplete data (wrt=" + std::to_string(written) +
                                        ",pnd=" + std::to_string(bytes.size() - size_t(written)) +
                                        ",pac=" + std::to_string(bytes.size()) + ",RAW_IO,300ms)");
      EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
      if (!draining) close(peer);
    }
  }
  EXPECT_EQ(countOf(trace(), "*** ERROR => NiRawHandleForAddr: connection pending after 500ms"), 2u);
}

TEST_F(NiTest, InvalidArgumentsAndStaleHandlesGiveInval) {
  TcpListener peer;
  ASSERT_TRUE(peer.ok());
  const NI_HDL first = connectTo(peer.port());
  ASSERT_EQ(NiCloseHandle(first), VEL_O_K);
  const NI_HDL hdl = connectTo(peer.port());
  EXPECT_EQ(hdl / 8, first / 8) << "the lowest free entry is handed out again";
  EXPECT_EQ(hdl % 8, (first + 1) % 8) << "with the next reuse count";
  char buf[4];
  int32_t n = 0;
  for (int rc : {NiRawWrite(hdl, nullptr, 1, 100, &n), NiRawWrite(hdl, buf, -1, 100, &n),
                 NiRawWrite(hdl, buf, 1, 100, nullptr), NiRawRead(hdl, nullptr, 4, 100, &n),
                 NiRawRead(hdl, buf, 4, 100, nullptr), NiRawHandleForAddr(nullptr, 1, 100, &n)}) {
    EXPECT_EQ(rc, NIEINVAL);
  }
  EXPECT_EQ(NiRawRead(hdl, buf, 0, 100, &n), NIETOO_SMALL);
  for (NI_HDL bad : {first, NI_INVALID_HDL, NI_HDL_TABLE_SIZE * 8, NI_HDL_TABLE_SIZE * 8 - 1, hdl + 1}) {
    EXPECT_EQ(NiRawWrite(bad, "stale", 5, 100, &n), NIEINVAL) << bad;
    EXPECT_EQ(NiRawRead(bad, buf, 4, 100, &n), NIEINVAL) << bad;
    EXPECT_EQ(NiCloseHandle(bad), NIEINVAL) << bad;
  }
  EXPECT_EQ(write(hdl, "fresh"), VEL_O_K);
  EXPECT_TRUE(peer.waitForBytes(5));
  EXPECT_EQ(peer.allBytes(), "fresh");
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

// The collector sends a little and dies: a read returns what arrived, times out when nothing did and breaks at the end;
// writes give NIECONN_BROKEN, never SIGPIPE (left at its default, which would end the host).
TEST_F(NiTest, ReadsAndWritesOnAPeerThatDiesBreakWithoutSigpipe) {
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  signal(SIGPIPE, SIG_DFL);
  UnreadPeer listener;
  const NI_HDL hdl = connectTo(listener.port());
  const int peer = listener.acceptOne();
  ASSERT_GE(peer, 0);
  char buf[64];
  int32_t got = -1;
  const auto start = Clock::now();
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 200, &got), NIETIMEOUT);
  EXPECT_GE(msSince(start), 190);
  EXPECT_EQ(got, 0);
  ASSERT_EQ(send(peer, "abcdef", 6, MSG_NOSIGNAL), 6);
  EXPECT_EQ(NiRawRead(hdl, buf, 4, 2000, &got), VEL_O_K);  // no more than the buffer holds
  EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), "abcd");
  close(peer);
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 2000, &got), VEL_O_K);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), "ef");
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 2000, &got), NIECONN_BROKEN);  // not an endless stream of nothing
  int rc = VEL_O_K;
  for (int i = 0; i < 100 && rc == VEL_O_K; ++i) rc = write(hdl, std::string(64 << 10, 'k'));
  EXPECT_EQ(rc, NIECONN_BROKEN);
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL) << "the layer must leave the host's disposition alone";
  sigaction(SIGPIPE, &before, nullptr);
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

}  // namespace
