// Writes from inside a host: no SIGPIPE or SIGXFSZ reaches the host, whatever its dispositions, and standard error is
// never waited for nor changed. Each case runs in a forked child with both signals at their default disposition, so
// that a signal that gets through ends the child, not the test.
#include "port/quiet_write.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "port/standard_error_write.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace {

using testsupport::runInChild;

bool pending(int signal) {
  sigset_t set;
  return sigpending(&set) == 0 && sigismember(&set, signal) == 1;
}

bool blocked(int signal) {
  sigset_t mask;
  return pthread_sigmask(SIG_SETMASK, nullptr, &mask) == 0 && sigismember(&mask, signal) == 1;
}

bool atDefault(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_DFL;
}

// Fills a pipe or socket through write until it refuses; the bytes taken.
template <typename Write>
long fill(Write write) {
  const std::string block(1000, 'x');
  long taken = 0;
  for (int i = 0; i < 10000; ++i) {
    const ssize_t n = write(block.data(), block.size());
    if (n < 0) return errno == EAGAIN ? taken : -1;
    taken += n;
  }
  return -1;
}

TEST(QuietWriteTest, NoReaderAndTheFileSizeLimitFailTheWriteInsteadOfEndingTheProcess) {
  testsupport::TempDir dir;
  const testsupport::ChildEnd end = runInChild([&] {
    int fds[2];
    CHILD_CHECK(pipe(fds) == 0, 2);
    close(fds[0]);
    CHILD_CHECK(portWriteQuietly(fds[1], "x", 1) == -1 && errno == EPIPE, 3);

    const rlimit limit{4096, RLIM_INFINITY};
    CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0, 4);
    const int file = open(dir.file("limited").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string bytes(5000, 'y');
    CHILD_CHECK(portWriteQuietly(file, bytes.data(), bytes.size()) == 4096, 5);  // up to the limit
    CHILD_CHECK(portWriteQuietly(file, "y", 1) == -1 && errno == EFBIG, 6);

    // Nothing left behind: no signal pending, the mask and the dispositions as they were.
    CHILD_CHECK(!pending(SIGPIPE) && !pending(SIGXFSZ), 7);
    CHILD_CHECK(!blocked(SIGPIPE) && !blocked(SIGXFSZ), 8);
    CHILD_CHECK(atDefault(SIGPIPE) && atDefault(SIGXFSZ), 9);
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

// The host's own pending signal (and its mask) is its business: a write that raised the same signal again must not take
// the host's away.
TEST(QuietWriteTest, ASignalPendingBeforeTheWriteStaysPendingAndTheHostsMaskStays) {
  const testsupport::ChildEnd end = runInChild([] {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    CHILD_CHECK(pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr) == 0, 2);
    CHILD_CHECK(raise(SIGPIPE) == 0 && pending(SIGPIPE), 3);
    int fds[2];
    CHILD_CHECK(pipe(fds) == 0, 4);
    close(fds[0]);
    CHILD_CHECK(portWriteQuietly(fds[1], "x", 1) == -1 && errno == EPIPE, 5);
    CHILD_CHECK(pending(SIGPIPE) && blocked(SIGPIPE) && !blocked(SIGXFSZ), 6);
    const timespec noWait{0, 0};
    CHILD_CHECK(sigtimedwait(&pipeOnly, nullptr, &noWait) == SIGPIPE, 7);
    CHILD_CHECK(!pending(SIGPIPE), 8);
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

// Standard error as a pipe that nobody drains, then whose reader goes (and the same for a socket): the writes are
// refused at once, descriptor 2 keeps its flags, and no descriptor stays open on the pipe (a host that replaces its
// standard error gives its reader the end of the data).
TEST(StandardErrorWriteTest, APipeOrSocketThatNobodyDrainsIsRefusedAtOnceAndLeftAsItWasAndAFileIsWritten) {
  testsupport::TempDir dir;
  const testsupport::ChildEnd end = runInChild([&] {
    int fds[2];
    CHILD_CHECK(testsupport::smallPipe(fds), 2);
    CHILD_CHECK(dup2(fds[1], 2) == 2, 4);
    close(fds[1]);
    const long taken = fill(portWriteStandardErrorNoWait);
    CHILD_CHECK(taken >= 4000, 5);
    CHILD_CHECK((fcntl(2, F_GETFL) & O_NONBLOCK) == 0, 6);
    char drained[8192];
    CHILD_CHECK(read(fds[0], drained, sizeof drained) == taken, 7);
    CHILD_CHECK(portWriteStandardErrorNoWait("again\n", 6) == 6, 8);
    CHILD_CHECK(read(fds[0], drained, sizeof drained) == 6, 9);

    const int devNull = open("/dev/null", O_WRONLY);
    CHILD_CHECK(dup2(devNull, 2) == 2, 10);
    CHILD_CHECK(read(fds[0], drained, sizeof drained) == 0, 11);  // no writer left: the end of the data

    CHILD_CHECK(portWriteStandardErrorNoWait("null\n", 5) == 5, 12);  // a device other than a terminal
    int gone[2];
    CHILD_CHECK(pipe(gone) == 0 && dup2(gone[1], 2) == 2, 13);
    close(gone[0]);
    CHILD_CHECK(portWriteStandardErrorNoWait("x", 1) == -1 && errno == EPIPE, 14);

    int pair[2];  // a socket, full and then without its peer
    CHILD_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0 && dup2(pair[0], 2) == 2, 15);
    CHILD_CHECK(fill(portWriteStandardErrorNoWait) > 0, 16);
    CHILD_CHECK((fcntl(2, F_GETFL) & O_NONBLOCK) == 0, 17);
    close(pair[1]);
    CHILD_CHECK(portWriteStandardErrorNoWait("x", 1) == -1 && errno == EPIPE, 18);
    const int file = open(dir.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    CHILD_CHECK(dup2(file, 2) == 2, 19);
    CHILD_CHECK(portWriteStandardErrorNoWait("to the file\n", 12) == 12, 20);
    CHILD_CHECK(testsupport::readFile(dir.file("stderr.txt")) == "to the file\n", 21);
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

constexpr int kNoTerminals = 77;

// A terminal is written through a non-blocking descriptor of its own: one whose output nobody reads refuses the writes
// at once, and the descriptor is gone after each write.
TEST(StandardErrorWriteTest, ATerminalThatNobodyReadsIsRefusedAtOnceAndLeftAsItWas) {
  const testsupport::ChildEnd end = runInChild([] {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return kNoTerminals;
    const int terminal = open(ptsname(master), O_WRONLY | O_NOCTTY);
    termios raw{};
    CHILD_CHECK(terminal >= 0 && tcgetattr(terminal, &raw) == 0, 2);
    cfmakeraw(&raw);
    CHILD_CHECK(tcsetattr(terminal, TCSANOW, &raw) == 0 && dup2(terminal, 2) == 2, 3);
    const int before = testsupport::openDescriptors();
    CHILD_CHECK(fill(portWriteStandardErrorNoWait) > 0, 4);
    CHILD_CHECK((fcntl(2, F_GETFL) & O_NONBLOCK) == 0, 5);
    CHILD_CHECK(testsupport::openDescriptors() == before, 6);
    // Read, the terminal takes output again (the room it frees shows after a moment).
    char drained[65536];
    CHILD_CHECK(testsupport::waitUntil([&] {
                  while (read(master, drained, sizeof drained) > 0) {
                  }
                  return portWriteStandardErrorNoWait("again", 5) == 5;
                }),
                7);
    return 0;
  });
  if (end.exitCode == kNoTerminals) GTEST_SKIP() << "no pseudo-terminals here";
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

}  // namespace
