// The trace never waits for its output nor raises a signal in the host: a standard error or FIFO that nobody drains, a
// reader that goes, the file size limit of the process. Each case runs in a forked child with SIGPIPE and SIGXFSZ at
// their default disposition and a time limit, so that a signal or a write that never returns fails the case, not the
// test run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "dptrc/dptrc.h"
#include "support/child_process.h"
#include "trc_test_util.h"

using namespace trctest;
using testsupport::countOf;
using testsupport::drain;
using testsupport::runInChild;

namespace {

constexpr int kLines = 200;

// 200 lines of about 100 bytes: far more than the 4 KiB pipes below hold.
void writeLines() {
  const std::string padding(60, 'x');
  for (int i = 0; i < kLines; ++i) MOX_TRC(2, "line %03d %s\n", i, padding.c_str());
}

std::string dropNote(long count) {
  return "M  " + threadTag() + "... " + std::to_string(count) +
         " trace writes dropped: the output could not take them without waiting\n";
}

// After the output took the first lines and refused the rest: exactly the refused writes are reported, once, before the
// next line it takes.
int checkDropsReported(int readEnd, const std::string& before) {
  const long taken = static_cast<long>(countOf(before, "] line "));
  CHILD_CHECK(taken > 0 && taken < kLines, 20);
  CHILD_CHECK(before.find("] line " + std::to_string(1000 + taken - 1).substr(1) + " ") != std::string::npos, 21);
  MOX_TRC(2, "after the drain\n");
  MOX_TRC(2, "and one more\n");
  const std::string after = drain(readEnd);
  CHILD_CHECK(
      after == dropNote(kLines - taken) + "M  " + threadTag() + "after the drain\nM  " + threadTag() + "and one more\n",
      22);
  return 0;
}

TEST(TrcOutput, StandardErrorThatNobodyDrainsDropsAndCountsWritesAndItsReaderMayGo) {
  TempDir cwd;
  const testsupport::ChildEnd end = runInChild([&] {
    int fds[2];
    CHILD_CHECK(testsupport::smallPipe(fds) && dup2(fds[1], 2) == 2 && chdir(cwd.path().c_str()) == 0, 2);
    trcSetTimeSource(fakeTime);
    // Neither the log directory nor the working directory takes the file.
    CHILD_CHECK(trcOpenLibraryFile(u"missing/out", u"/nonexistent", 2) == u"missing/out_mox.trc", 3);
    writeLines();
    const std::string before = drain(fds[0]);
    CHILD_CHECK(before.rfind("*** ERROR => CTrcOpen: fopen missing/out_mox.trc\n\n---", 0) == 0, 4);
    if (const int failed = checkDropsReported(fds[0], before)) return failed;
    close(fds[0]);
    MOX_TRC(2, "nobody reads this\n");
    MOX_TRC_ERROR("nor this\n");
    trcCloseLibraryFile();
    return (fcntl(2, F_GETFL) & O_NONBLOCK) == 0 ? 0 : 5;  // the host's descriptor is as it was
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

// A FIFO in the log directory: without a reader the file goes to the working directory at once; with a reader, one that
// stops reading costs dropped lines, and one that goes costs nothing.
TEST(TrcOutput, TraceFileThatIsAFifoNeverHoldsUpTheHost) {
  TempDir cwd, logdir;
  const std::string fifo = logdir.file("fifo_mox.trc");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const testsupport::ChildEnd end = runInChild([&] {
    CHILD_CHECK(chdir(cwd.path().c_str()) == 0, 2);
    CHILD_CHECK(trcOpenLibraryFile(u"fifo", logdir.path16(), 2) == u"fifo_mox.trc", 3);
    trcCloseLibraryFile();

    trcSetTimeSource(fakeTime);
    const int readEnd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    CHILD_CHECK(readEnd >= 0 && fcntl(readEnd, F_SETPIPE_SZ, 4096) > 0, 4);
    CHILD_CHECK(trcOpenLibraryFile(u"fifo", logdir.path16(), 2) == logdir.path16() + u"/fifo_mox.trc", 5);
    writeLines();
    const std::string before = drain(readEnd);
    CHILD_CHECK(before.rfind("\n---", 0) == 0, 6);
    if (const int failed = checkDropsReported(readEnd, before)) return failed;
    close(readEnd);
    MOX_TRC(2, "nobody reads this\n");
    trcCloseLibraryFile();
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

// A file size limit below the trace file's own: the file is rotated when it refuses a line, and writing goes on in the
// fresh file.
TEST(TrcOutput, FileSizeLimitOfTheProcessRotatesTheTraceFileInsteadOfEndingIt) {
  constexpr rlim_t kLimit = 16 * 1024;
  TempDir dir;
  const testsupport::ChildEnd end = runInChild([&] {
    trcSetTimeSource(fakeTime);
    trcOpenLibraryFile(u"limited", dir.path16(), 1);
    const rlimit limit{kLimit, RLIM_INFINITY};
    CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0, 2);
    const std::string padding(280, 'x');
    for (int i = 0; i < 100; ++i) MOX_TRC(1, "line %03d %s\n", i, padding.c_str());
    trcCloseLibraryFile();
    return 0;
  });
  ASSERT_TRUE(end.succeeded()) << end.describe();
  const std::string old = readFile(dir.file("limited_mox.trc.old"));
  const std::string current = readFile(dir.file("limited_mox.trc"));
  EXPECT_EQ(old.size(), kLimit);  // filled up to the limit, the refused line cut there
  EXPECT_EQ(old.rfind("\n---", 0), 0u);
  EXPECT_EQ(current.rfind("\n---", 0), 0u);
  const size_t note = current.find("... 1 trace writes dropped");
  EXPECT_NE(note, std::string::npos) << current;
  EXPECT_LT(note, current.find("] line "));
  EXPECT_NE(current.find("] line 099 "), std::string::npos);
}

}  // namespace
