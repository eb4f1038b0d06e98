// The library's own output never ends or stops its host. Each host is a forked child with SIGPIPE and SIGXFSZ at their
// defaults and a time limit: a signal or a hang fails the test, not the run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "e2e/e2e_support.h"
#include "support/child_process.h"

namespace {

using e2e::countOf;
using e2e::LibraryTest;
using testsupport::drain;
using testsupport::runInChild;

class HostOutputTest : public LibraryTest {
 protected:
  // Neither the log directory nor the (removed) working directory takes a file: the trace goes to standard error, as
  // for a service whose working directory is "/".
  bool loseTheFiles() {
    const std::filesystem::path gone = dir_ / "gone";
    return mkdir(gone.c_str(), 0755) == 0 && chdir(gone.c_str()) == 0 && rmdir(gone.c_str()) == 0;
  }
  void initOnStandardError() {
    initPairs({{"logdir", (dir_ / "missing").string()}, {"datasending_method", "file"}, {"lib_trace_level", "2"}});
  }
  // A small pipe on descriptor 2; its read end.
  static int standardErrorPipe() {
    int fds[2];
    if (!testsupport::smallPipe(fds) || dup2(fds[1], 2) != 2) return -1;
    close(fds[1]);
    return fds[0];
  }
  // Timed calls with names of their own, so that each writes new trace lines at level 2.
  static void timeCalls(int thread, int calls) {
    for (int i = 0; i < calls; ++i) {
      const std::u16string method = e2e::widen("m" + std::to_string(thread) + "_" + std::to_string(i));
      MOX_endTiming(MOX_startTiming(u"Svc", method.c_str(), 1));
    }
  }
};

// Four threads trace into a standard error nobody drains, then the host exits: nothing waits. Once the pipe is drained,
// the next start's first write says how many writes were dropped; once its reader has gone, a start, calls and exit go
// on without SIGPIPE.
TEST_F(HostOutputTest, TraceOnAStandardErrorThatNobodyDrainsOrWhoseReaderHasGoneNeverStopsTheHost) {
  const testsupport::ChildEnd end = runInChild([&] {
    const int readEnd = standardErrorPipe();
    CHILD_CHECK(readEnd >= 0 && loseTheFiles(), 2);
    initOnStandardError();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([t] { timeCalls(t, 300); });
    for (auto& t : threads) t.join();
    MOX_ProcExit();
    const std::string first = drain(readEnd);
    CHILD_CHECK(first.rfind("*** ERROR => CTrcOpen: fopen e2e_mox.trc\n", 0) == 0, 3);
    CHILD_CHECK(first.size() <= 4096, 4);

    initOnStandardError();
    MOX_ProcExit();
    const std::string second = drain(readEnd);
    const std::regex note(
        "^M  \\[Thr \\d+\\] \\.\\.\\. (\\d+) trace writes dropped: "
        "the output could not take them without waiting\n\\*\\*\\* ERROR => CTrcOpen");
    std::smatch found;
    CHILD_CHECK(std::regex_search(second, found, note), 5);
    // Each timing line is one write: those that did not reach the pipe were dropped.
    const long timingLines = 4 * 300 * 2;
    const long taken = countOf(first, " - [StartTiming]\n") + countOf(first, " - [EndTiming] ");
    CHILD_CHECK(std::stol(found[1]) >= timingLines - taken, 6);

    close(readEnd);
    initOnStandardError();
    timeCalls(0, 20);
    MOX_outputMetricData();
    MOX_ProcExit();
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

TEST_F(HostOutputTest, MetricFileAtTheFileSizeLimitDoesNotEndTheHost) {
  constexpr rlim_t kLimit = 1024 * 1024;
  const std::filesystem::path logs = dir_ / "logs";
  ASSERT_TRUE(std::filesystem::create_directory(logs));
  { std::ofstream(logs / "e2e_mtdata.log") << "old\n"; }
  std::filesystem::resize_file(logs / "e2e_mtdata.log", kLimit - 10);
  const testsupport::ChildEnd end = runInChild([&] {
    const rlimit limit{kLimit, RLIM_INFINITY};
    CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0, 2);
    initPairs({{"logdir", logs.string()}, {"datasending_method", "file"}, {"lib_trace_level", "1"}});
    MOX_endTiming(MOX_startTiming(u"Svc", u"run", 1));
    MOX_outputMetricData();
    MOX_ProcExit();
    return 0;
  });
  ASSERT_TRUE(end.succeeded()) << end.describe();
  EXPECT_EQ(std::filesystem::file_size(logs / "e2e_mtdata.log"), kLimit - 10);
  EXPECT_EQ(e2e::sumOf(metricFile(), "Svc|run"), 1);  // in the working directory's file
  // One line from each agent (metric data, and the traces with the version line).
  EXPECT_EQ(countOf(e2e::readFile(logs / "e2e_mox.trc"), "e2e_mtdata.log could not be written (27: File too large)"),
            2);
}

// The parameter listing goes to standard output: a pipe whose reader has gone ends neither the host nor the listing of
// the next call, which writes again once a reader is back.
TEST_F(HostOutputTest, ParameterListingOnAStandardOutputWhoseReaderHasGoneDoesNotEndTheHost) {
  const testsupport::ChildEnd end = runInChild([&] {
    int gone[2], back[2];
    CHILD_CHECK(pipe(gone) == 0 && pipe(back) == 0 && dup2(gone[1], 1) == 1, 2);
    close(gone[0]);
    initWith({});
    MOX_checkActiveParameter();
    CHILD_CHECK(dup2(back[1], 1) == 1, 3);
    close(back[1]);
    MOX_checkActiveParameter();
    close(1);
    CHILD_CHECK(drain(back[0]).find("Parameter Name: datasending_method |Parameter Value: file\n") != std::string::npos,
                4);
    MOX_ProcExit();
    return 0;
  });
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

}  // namespace
