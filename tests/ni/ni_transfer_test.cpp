// Raw writes and reads: whole buffers through partial sends, time-outs with
// bytes left, peers that reset or die, and reads with their time-out.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

#include "ni_test_support.h"
#include "si/si.h"

using namespace nitest;

namespace {

std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

// A listening socket that never accepts: connections complete in its queue and
// whatever is sent to them stays unread.
class UnreadPeer {
 public:
  UnreadPeer() : fd_(testsupport::boundLoopbackSocket(AF_INET, 0)) {
    if (fd_ >= 0) listen(fd_, 4);
  }
  ~UnreadPeer() { close(fd_); }
  uint16_t port() const { return testsupport::localPort(fd_); }
  int acceptOne() const { return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

 private:
  int fd_;
};

TEST_F(NiTest, LargeBufferArrivesWhole) {
  TcpListener peer;
  ASSERT_TRUE(peer.ok());
  const NI_HDL hdl = connectTo(peer.port());
  const std::string bytes = pattern(8 << 20);  // far beyond the socket buffers: partial sends and waits
  int32_t written = 0;
  EXPECT_EQ(write(hdl, bytes, 20000, &written), VEL_O_K);
  EXPECT_EQ(written, static_cast<int32_t>(bytes.size()));
  ASSERT_TRUE(peer.waitForBytes(bytes.size()));
  EXPECT_TRUE(peer.bytes(0) == bytes);
  EXPECT_EQ(write(hdl, ""), VEL_O_K);
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

TEST_F(NiTest, WriteTimesOutWithBytesLeftWhenThePeerDoesNotRead) {
  UnreadPeer peer;
  const NI_HDL hdl = connectTo(peer.port());
  openTrace(1);
  const std::string bytes = std::string(16 << 20, 't');
  int32_t written = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(write(hdl, bytes, 300, &written), NIETIMEOUT);
  const long long elapsed = msSince(start);
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 2000);
  EXPECT_GT(written, 0);  // what went out stays sent
  EXPECT_LT(written, static_cast<int32_t>(bytes.size()));
  closeTrace();
  EXPECT_NE(trace().find("*** ERROR => NiRawWrite: hdl " + std::to_string(hdl) + " sent incomplete data (wrt=" +
                         std::to_string(written) + ",pnd=" + std::to_string(bytes.size() - written) +
                         ",pac=" + std::to_string(bytes.size()) + ",RAW_IO,300ms)"),
            std::string::npos)
      << trace();
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

// The peer is a child process killed while the host writes: the host must see
// NIECONN_BROKEN, never SIGPIPE (left at its default, which would end it).
TEST_F(NiTest, KilledPeerGivesBrokenAndNoSigpipe) {
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  signal(SIGPIPE, SIG_DFL);
  UnreadPeer peer;
  int reading[2];
  ASSERT_EQ(pipe(reading), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = peer.acceptOne();
    char buf[4096];
    bool told = false;
    while (fd >= 0 && read(fd, buf, sizeof buf) > 0) {
      if (!told) told = ::write(reading[1], "r", 1) == 1;  // the parent kills from here on
    }
    _exit(0);
  }
  const NI_HDL hdl = connectTo(peer.port());
  const std::string chunk = pattern(64 << 10);
  EXPECT_EQ(write(hdl, chunk), VEL_O_K);
  char mark;
  ASSERT_EQ(read(reading[0], &mark, 1), 1);
  close(reading[0]);
  close(reading[1]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  int rc = VEL_O_K;
  for (int i = 0; i < 100 && rc == VEL_O_K; ++i) rc = write(hdl, chunk);
  EXPECT_EQ(rc, NIECONN_BROKEN);
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL) << "the layer must leave the host's disposition alone";
  sigaction(SIGPIPE, &before, nullptr);
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

TEST_F(NiTest, ReadReturnsWhatArrivedTimesOutWhenNothingDidAndBreaksAtTheEnd) {
  UnreadPeer listener;
  const NI_HDL hdl = connectTo(listener.port());
  const int peer = listener.acceptOne();
  ASSERT_GE(peer, 0);
  char buf[64];
  int32_t got = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 200, &got), NIETIMEOUT);
  EXPECT_GE(msSince(start), 190);
  EXPECT_EQ(got, 0);

  ASSERT_EQ(send(peer, "reply", 5, MSG_NOSIGNAL), 5);
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 2000, &got), VEL_O_K);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), "reply");
  ASSERT_EQ(send(peer, "abcdef", 6, MSG_NOSIGNAL), 6);
  EXPECT_EQ(NiRawRead(hdl, buf, 4, 2000, &got), VEL_O_K);  // no more than the buffer holds
  EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), "abcd");

  close(peer);
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 2000, &got), VEL_O_K);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), "ef");
  EXPECT_EQ(NiRawRead(hdl, buf, sizeof buf, 2000, &got), NIECONN_BROKEN);
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
}

// The same waits through select, as with NOPOLL set.
TEST_F(NiTest, SelectWaitsKeepTheTimeOuts) {
  SiUseSelect(true);
  testsupport::StuckListener stuck;
  ASSERT_TRUE(stuck.ok());
  const NiHostAddr addr = addrOf(u"127.0.0.1");
  NI_HDL hdl;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NiRawHandleForAddr(&addr, stuck.port(), 300, &hdl), NIECONN_REFUSED);
  EXPECT_GE(msSince(start), 290);
  UnreadPeer peer;
  hdl = connectTo(peer.port());
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(write(hdl, std::string(16 << 20, 't'), 300), NIETIMEOUT);
  EXPECT_GE(msSince(start), 290);
  EXPECT_EQ(NiCloseHandle(hdl), VEL_O_K);
  SiUseSelect(false);
}

}  // namespace
