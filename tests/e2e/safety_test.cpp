// What a misbehaving host or a hostile environment cannot do through the
// exports: fill the disk through the trace file, lose metric data silently on
// a full disk, scatter files into the filesystem root, or stall start-up with
// a huge configuration file.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <regex>

#include "e2e/e2e_support.h"
#include "support/file_size_limit.h"

namespace {

using e2e::countOf;
using e2e::LibraryTest;
using e2e::widen;
using testsupport::FileSizeLimit;

// A sanitizer build calls a tenth as often: the limit works per second, not per call.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kFloodCalls = 100000;
#else
constexpr int kFloodCalls = 1000000;
#endif

// A host that keeps timing on a terminated context, or passes a null session
// function, in a loop: the trace grows with the seconds the flood lasted, not
// with its calls; the first lines are the ordinary error lines of the source
// file; every other call is counted in "repeated" lines.
TEST_F(LibraryTest, FloodsOfBadCallsKeepTheTraceSmall) {
  struct Case {
    std::function<void()> prepare, badCall;
    std::string error, sourceFile;
  } cases[] = {
      {[] { MOX_startTiming(u"A", u"b", 1), MOX_terminateTimingAll(); }, [] { MOX_startTiming(u"A", u"b", 1); },
       "Previous context object is in the terminate status and was not cleaned up by MOX_initContext API",
       "context_manager.cpp"},
      {[] {}, [] { MOX_endTimingEx(nullptr, 1); }, "Get sessionId function point is NULL", "moxmain.cpp"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sourceFile);
    initWith({});
    c.prepare();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kFloodCalls; ++i) c.badCall();
    // Whole seconds the flood touched.
    const int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count() + 2;
    MOX_ProcExit();

    const std::string trace = traceFile();
    EXPECT_LT(trace.size(), 16 * 1024 + seconds * 101 * 200) << "one line per call";
    const std::string line = "*** ERROR => " + c.error;
    const std::vector<std::string> all = e2e::lines(trace);
    const auto first =
        std::find_if(all.begin(), all.end(), [&](const std::string& l) { return l.find(line) != l.npos; });
    ASSERT_NE(first, all.end());
    EXPECT_TRUE(std::regex_match(*first, std::regex("M  \\[Thr \\d+\\] \\*\\*\\* ERROR => " + c.error + " \\[" +
                                                    c.sourceFile.substr(0, 12) + " *\\d+\\]")))
        << *first;
    int64_t counted = countOf(trace, line);
    EXPECT_GE(counted, 100);
    EXPECT_LE(counted, 100 * seconds);
    const std::regex repeated("\\.\\.\\. line of " + std::regex_replace(c.sourceFile, std::regex("\\."), "\\.") +
                              ":\\d+ repeated (\\d+) times\n");
    int reports = 0;
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), repeated); it != std::sregex_iterator(); ++it) {
      counted += std::stoll((*it)[1]);
      ++reports;
    }
    EXPECT_GE(reports, 1);
    EXPECT_EQ(counted, kFloodCalls);
  }
}

TEST_F(LibraryTest, FullDiskSendsMetricDataToTheWorkingDirectoryWithOneErrorLinePerAgent) {
  const std::filesystem::path logs = dir_ / "logs";
  std::filesystem::create_directory(logs);
  constexpr rlim_t kLimit = 256 * 1024;
  { std::ofstream(logs / "e2e_mtdata.log") << "old\n"; }
  std::filesystem::resize_file(logs / "e2e_mtdata.log", kLimit);  // the disk is full for it
  // The trace dispatcher must not send the version event before the limit is set.
  initPairs({{"logdir", logs.string()}, {"datasending_method", "file"}, {"tracecheck_interval", "3600"}});
  {
    FileSizeLimit full(kLimit);
    for (int round = 0; round < 3; ++round) {
      MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
      MOX_outputMetricData();
    }
  }
  MOX_ProcExit();
  EXPECT_EQ(std::filesystem::file_size(logs / "e2e_mtdata.log"), kLimit);
  const std::string fallback = metricFile();  // in the working directory
  EXPECT_EQ(countOf(fallback, "K|m:Finished Counter"), 3) << fallback;
  EXPECT_EQ(countOf(fallback, "MOX library version"), 1) << "the version event";
  const std::string trace = e2e::readFile(logs / "e2e_mox.trc");
  EXPECT_EQ(countOf(trace, "*** ERROR => Metric data log file " + (logs / "e2e_mtdata.log").string() +
                               " could not be written (27: File too large)"),
            2)
      << trace;
}

TEST_F(LibraryTest, EmptyLogdirPutsTheTraceFileIntoTheWorkingDirectory) {
  // With 24 pairs nothing is configured: logdir is empty, not the root.
  const std::string name = "e2e_empty_" + std::to_string(getpid());
  initPairs(e2e::Pairs(24, {"system_name", "X"}), name);
  EXPECT_EQ(parameter(u"logdir"), "");
  MOX_ProcExit();
  EXPECT_TRUE(std::filesystem::exists(dir_ / (name + "_mox.trc")));
  EXPECT_FALSE(std::filesystem::exists("/" + name + "_mox.trc"));
}

TEST_F(LibraryTest, OversizedConfigurationFileIsRefusedAtOnceAndTheDefaultsStand) {
  if (std::filesystem::exists("/usr/vel/mox/log")) GTEST_SKIP() << "the default logdir exists on this machine";
  const std::filesystem::path conf = dir_ / "conf";
  std::filesystem::create_directory(conf);
  { std::ofstream(conf / "mox.conf") << "system_name = HUGE\nlogdir = " << dir_.string() << "\n"; }
  std::filesystem::resize_file(conf / "mox.conf", uint64_t{2} << 30);  // sparse: costs nothing to make
  MOX_ProcInitWithProfilePath(u"e2e", 0, widen(conf.string()).c_str());
  EXPECT_EQ(parameter(u"system_name"), "VEL_MOX");
  MOX_ProcExit();
  // The default logdir cannot be written: the trace is in the working
  // directory, and the refusal is its first line.
  const std::string trace = traceFile();
  const size_t refusal = trace.find("] *** ERROR => Configuration file " + (conf / "mox.conf").string() +
                                    " is larger than 1048576 bytes and was ignored [flatfile_pro");
  EXPECT_NE(refusal, std::string::npos) << trace;
  EXPECT_LT(refusal, trace.find("MOX library version 2.3.6 (unicode) loaded"));
}

}  // namespace
