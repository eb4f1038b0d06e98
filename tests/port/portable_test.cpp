// The port calls whose contract is the same on every platform, checked against real files, the system's UUIDs and its
// clocks (this file is built for Linux and for Windows).
#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "port/clock.h"
#include "port/condition_clock.h"
#include "port/error_text.h"
#include "port/file.h"
#include "port/host_name.h"
#include "port/process_id.h"
#include "port/quiet_write.h"
#include "port/socket.h"
#include "port/uuid.h"
#include "support/test_files.h"

namespace {

using testsupport::TempDir;

bool writeText(int fd, const std::string& text) {
  return portWriteQuietly(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool append(const std::string& name, const std::string& text, bool truncate = false) {
  const int fd = portOpenForAppend(name, truncate);
  if (fd < 0) return false;
  const bool written = writeText(fd, text);
  return portClose(fd) == 0 && written;
}

// The whole file through the port's reads; "<none>" when it cannot be opened.
std::string readAll(const std::string& name) {
  const int fd = portOpenForRead(name);
  if (fd < 0) return "<none>";
  std::string text;
  char chunk[7];  // small, so that a read continues where the last stopped
  for (ssize_t n; (n = portRead(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
  portClose(fd);
  return text;
}

// The 60-bit time stamp of a version 1 UUID (100 ns units since 1582-10-15).
uint64_t uuidTime(const uint8_t u[16]) {
  const auto at = [&](int i, int n) {
    uint64_t v = 0;
    for (int k = 0; k < n; ++k) v = v << 8 | u[i + k];
    return v;
  };
  return (at(6, 2) & 0x0FFF) << 48 | at(4, 2) << 32 | at(0, 4);
}

double seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9; }

TEST(PortableTest, FilesAppendTruncateRenameAndReadByUtf8Name) {
  TempDir dir;
  const std::string name = dir.file("d\xC3\xA4t\xC3\xA4.log");  // "dätä.log"
  const std::string other = dir.file("other.log");
  ASSERT_TRUE(append(name, "ab"));
  ASSERT_TRUE(append(name, "cd"));
  EXPECT_EQ(readAll(name), "abcd");

  const int fd = portOpenForAppend(name, false);
  ASSERT_GE(fd, 0);
  PortFileStatus status;
  ASSERT_TRUE(portFileStatus(fd, &status));
  EXPECT_TRUE(status.regular);
  EXPECT_EQ(status.size, 4u);
  ASSERT_TRUE(writeText(fd, "ef"));
  EXPECT_EQ(portFileOffset(fd), 6);  // appends land at the end
  ASSERT_TRUE(portTruncateFile(fd, 3));
  EXPECT_EQ(portClose(fd), 0);
  EXPECT_EQ(readAll(name), "abc");

  ASSERT_TRUE(append(other, "old"));
  ASSERT_TRUE(portRenameReplacing(name, other)) << "the target exists and must be replaced";
  EXPECT_EQ(readAll(other), "abc");
  EXPECT_EQ(portOpenForRead(name), -1);
  EXPECT_EQ(errno, ENOENT);

  ASSERT_TRUE(append(other, "x", true));
  EXPECT_EQ(readAll(other), "x");
  EXPECT_EQ(portOpenForRead(dir.file("missing")), -1);
  EXPECT_FALSE(portRenameReplacing(dir.file("missing"), other));
}

TEST(PortableTest, ADirectoryIsNoRegularFile) {
  TempDir dir;
  const int fd = portOpenForRead(dir.path());
  if (fd < 0) return;  // cannot even be opened: as good
  PortFileStatus status;
  EXPECT_TRUE(portFileStatus(fd, &status));
  EXPECT_FALSE(status.regular);
  portClose(fd);
}

TEST(PortableTest, TimeBasedUuidsAreVersionOneInStandardOrderWithTheTimeOfNow) {
  uint8_t first[16], second[16];
  timespec now{};
  ASSERT_TRUE(portReadWallClock(&now));
  ASSERT_TRUE(portTimeBasedUuid(first));
  ASSERT_TRUE(portTimeBasedUuid(second));
  for (const uint8_t* u : {first, second}) {
    EXPECT_EQ(u[6] >> 4, 1) << "version";
    EXPECT_EQ(u[8] & 0xC0, 0x80) << "variant";
  }
  EXPECT_NE(std::string(first, first + 16), std::string(second, second + 16));
  EXPECT_GT(uuidTime(second), uuidTime(first)) << "sequential";
  // 100 ns units from 1582-10-15 to 1970-01-01.
  const double uuidSeconds = static_cast<double>(uuidTime(first) - 0x01B21DD213814000ULL) / 1e7;
  EXPECT_NEAR(uuidSeconds, seconds(now), 60.0) << "the time fields are in the wrong order";
}

TEST(PortableTest, TimedWaitEndsAtADeadlineOnTheConditionClock) {
  pthread_cond_t cond;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  ASSERT_EQ(portInitCondition(&cond), 0);
  timespec start{}, deadline{}, end{};
  ASSERT_TRUE(portReadMonotonicClock(&start));
  ASSERT_TRUE(portReadConditionClock(&deadline));
  deadline.tv_nsec += 100000000;
  if (deadline.tv_nsec >= 1000000000) deadline.tv_sec += 1, deadline.tv_nsec -= 1000000000;
  pthread_mutex_lock(&mutex);
  int rc = 0;
  while ((rc = pthread_cond_timedwait(&cond, &mutex, &deadline)) == 0) {
  }
  pthread_mutex_unlock(&mutex);
  ASSERT_TRUE(portReadMonotonicClock(&end));
  EXPECT_EQ(rc, ETIMEDOUT);
  EXPECT_GE(seconds(end) - seconds(start), 0.09) << "the wait ended before its deadline";
  EXPECT_LT(seconds(end) - seconds(start), 10.0);
  pthread_cond_destroy(&cond);
}

TEST(PortableTest, ClocksMoveAsTheyShould) {
  timespec wall{}, mono1{}, mono2{}, coarse{}, cpu1{}, cpu2{};
  ASSERT_TRUE(portReadWallClock(&wall));
  const double system = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(seconds(wall), system, 5.0);
  ASSERT_TRUE(portReadMonotonicClock(&mono1));
  ASSERT_TRUE(portReadThreadCpuClock(&cpu1));
  volatile uint64_t spin = 0;
  for (;;) {  // at least 50 ms of this thread's CPU
    for (int i = 0; i < 1000000; ++i) spin = spin + 1;
    ASSERT_TRUE(portReadThreadCpuClock(&cpu2));
    if (seconds(cpu2) - seconds(cpu1) >= 0.05) break;
  }
  ASSERT_TRUE(portReadMonotonicClock(&mono2));
  ASSERT_TRUE(portReadCoarseMonotonicClock(&coarse));
  // A thread's CPU time may advance by whole scheduler ticks (about 16 ms on Windows), so it can run ahead of the
  // monotonic clock by up to one tick.
  EXPECT_GE(seconds(mono2) - seconds(mono1), seconds(cpu2) - seconds(cpu1) - 0.02)
      << "the monotonic clock lags the thread's CPU time";
  EXPECT_LE(seconds(cpu2) - seconds(cpu1), seconds(mono2) - seconds(mono1) + 0.05);
  EXPECT_GT(seconds(coarse), 0.0);
}

// A non-blocking connect to 127.0.0.1:port: its outcome as an errno value once the socket turned writable (or at once),
// -1 when it never did.
int connectOutcome(int sock, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (portSocketConnect(sock, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  if (portSocketSelect(sock, false, 10000) != 1) return -1;
  int pending = -1;
  return portSocketPendingError(sock, &pending) == 0 ? pending : -1;
}

bool wouldWait(int err) { return err == EWOULDBLOCK || err == EAGAIN; }

TEST(PortableTest, SocketsConnectSendReceiveEndAndReportARefusedConnect) {
  ASSERT_TRUE(portStartSockets());
  const int listener = portSocketOpen(AF_INET);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length), 0);
  const uint16_t port = ntohs(at.sin_port);

  const int client = portSocketOpen(AF_INET);
  ASSERT_GE(client, 0);
  ASSERT_EQ(connectOutcome(client, port), 0);
  ASSERT_EQ(portSocketPoll(listener, true, 10000), 1);
  const int server = static_cast<int>(accept(listener, nullptr, nullptr));
  ASSERT_GE(server, 0);

  char buffer[16];
  EXPECT_EQ(portSocketRecv(client, buffer, sizeof buffer), -1) << "nothing sent yet: no wait";
  EXPECT_TRUE(wouldWait(errno)) << errno;
  ASSERT_EQ(portSocketSend(client, "hello", 5), 5);
  ASSERT_EQ(portSocketPoll(server, true, 10000), 1);
  ASSERT_EQ(portSocketRecv(server, buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(portSocketPoll(client, true, 0), 0) << "nothing to read: a time-out";

  portSocketShutdown(server);
  portSocketClose(server);
  ASSERT_EQ(portSocketPoll(client, true, 10000), 1);
  EXPECT_EQ(portSocketRecv(client, buffer, sizeof buffer), 0) << "the end of the stream";
  portSocketClose(client);

  portSocketClose(listener);  // nobody listens on port any more
  const int refused = portSocketOpen(AF_INET);
  ASSERT_GE(refused, 0);
  EXPECT_EQ(connectOutcome(refused, port), ECONNREFUSED);
  portSocketClose(refused);
}

TEST(PortableTest, ProcessIdentityAndErrorTexts) {
  char host[256];
  ASSERT_TRUE(portHostName(host, sizeof host));
  EXPECT_NE(std::string(host), "");
  char tiny[4];
  if (portHostName(tiny, sizeof tiny)) {
    EXPECT_LT(std::string(tiny).size(), sizeof tiny) << "cut and terminated";
  }
  EXPECT_GT(portProcessId(), 0);
  ASSERT_NE(portErrorText(ENOENT), nullptr);
  EXPECT_NE(std::string(portErrorText(ENOENT)), "");
}

}  // namespace
