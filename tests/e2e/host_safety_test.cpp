// What a host can do through the exports without harm: exit while its threads time, race
// initialisations with exits, fork, keep one call open for hours, flood the trace with bad calls.
#include "e2e/e2e_process.h"

namespace {

using e2e::countOf;
using e2e::LibraryTest;
using e2e::residentKiB;
using e2e::sumOf;

struct Tally {
  std::atomic<long> started{0};    // outer calls that got a timing id
  std::atomic<long> ended{0};      // of those, ended (maybe refused, if exit came first)
  std::atomic<long> afterExit{0};  // ids handed out after exit returned
  std::atomic<long> loops{0};
};

// Nested timings, information and parameter reads, as a server thread does.
void workOnce(Tally& tally, const std::atomic<bool>& exited) {
  mox_char buffer[64];
  const bool wasExited = exited.load();
  const uint32_t outer = MOX_startTiming(u"Svc", u"run", 1);
  if (outer != 0) ++tally.started, tally.afterExit += wasExited;
  MOX_endTiming(MOX_startTiming(u"Db", u"query", 1));
  MOX_getSingleParameterValue(u"system_name", buffer, 64);
  MOX_getTraceLevel();
  MOX_increaseResource(u"Busy", 1);
  MOX_endTiming(outer);
  if (outer != 0) ++tally.ended;
  ++tally.loops;
}

// The address sanitizer runtime of some compilers takes no lock of its allocator across fork: a
// child forked while another thread refills its allocator cache waits for that lock for ever.
// Under it the host's threads hold still, between their units of work, while the fork is made.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHoldStillForFork = true;
#else
constexpr bool kHoldStillForFork = false;
#endif

// Threads that time units of work (workOnce) until joined, and can be held still between them.
class HoldableWorkers {
 public:
  HoldableWorkers(int count, Tally& tally, const std::atomic<bool>& exited) : count_(count) {
    for (int t = 0; t < count; ++t) {
      threads_.emplace_back([this, &tally, &exited] {
        while (!stop_.load()) {
          if (!hold_.load()) {
            workOnce(tally, exited);
            continue;
          }
          ++still_;
          while (hold_.load() && !stop_.load()) std::this_thread::yield();
          --still_;
        }
      });
    }
  }
  ~HoldableWorkers() { join(); }
  bool holdStill() {
    hold_ = true;
    return e2e::waitUntil([&] { return still_.load() == count_; });
  }
  void carryOn() { hold_ = false; }
  void join() {
    stop_ = true;
    for (auto& t : threads_) t.join();
    threads_.clear();
  }

 private:
  const int count_;
  std::atomic<bool> stop_{false}, hold_{false};
  std::atomic<int> still_{0};
  std::vector<std::thread> threads_;
};

// No call outlives what it uses, every call before exit is counted, none after it is timed.
TEST_F(LibraryTest, ExitWhileEightThreadsTimeAndRead) {
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::filesystem::remove(dir_ / "e2e_mtdata.log");
    initWith({{"tracecheck_interval", "0"}});
    Tally tally;
    std::atomic<bool> exited{false};
    HoldableWorkers workers(8, tally, exited);
    ASSERT_TRUE(e2e::waitUntil([&] { return tally.ended.load() >= 200; }));
    const long endedBeforeExit = tally.ended.load();
    MOX_ProcExit();
    exited = true;
    const long loopsAtExit = tally.loops.load();
    ASSERT_TRUE(e2e::waitUntil([&] { return tally.loops.load() > loopsAtExit + 80; }));  // calls after exit
    workers.join();
    const long finished = sumOf(metricFile(), "Svc|run");
    EXPECT_GE(finished, endedBeforeExit);
    EXPECT_LE(finished, tally.started.load());
    EXPECT_EQ(tally.afterExit.load(), 0);
  }
}

TEST_F(LibraryTest, InitialisationsRaceNestedExits) {
  std::atomic<long> timed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 6; ++i) {
        initWith({{"tracecheck_interval", "0"}});
        // Initialised by this thread or another: never half built.
        const uint32_t id = MOX_startTiming(u"Race", u"run", 1);
        timed += id != 0;
        MOX_endTiming(id);
        MOX_ProcExitNestable();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(MOX_ProcExitNestable(), 0) << "every initialisation was matched by one exit";
  EXPECT_EQ(MOX_startTiming(u"Race", u"run", 1), 0u);
  EXPECT_GT(timed.load(), 0);
}

TEST_F(LibraryTest, OneOpenCallThroughFiveMillionInnerCallsKeepsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "resident size means nothing under a sanitizer's allocator; the unit tests cover the bound";
#endif
  initWith({});
  const uint32_t outer = MOX_startTiming(u"Svc", u"session", 1);
  constexpr long kCalls = 5000000;
  long afterWarmUp = 0, accepted = 0;
  for (long i = 0; i < kCalls; ++i) {
    const uint32_t id = MOX_startTiming(u"Db", u"query", 1);
    accepted += id != 0;
    MOX_endTiming(id);
    if (i == 100000) afterWarmUp = residentKiB();
  }
  const long atEnd = residentKiB();
  MOX_endTiming(outer);
  MOX_ProcExit();
  EXPECT_LT(atEnd - afterWarmUp, 4 * 1024) << afterWarmUp << " KiB after 100,000 calls, " << atEnd << " KiB after 5M";
  // Flat because the calls were timed and counted, not because they were turned away.
  EXPECT_EQ(accepted, kCalls);
  EXPECT_EQ(sumOf(metricFile(), "Db|query"), kCalls);
}

// A host's session-id function that ends the library from inside a call.
const mox_char* exitingSession() {
  MOX_ProcExit();
  MOX_ProcInit(u"other", 0);
  return u"session";
}

TEST_F(LibraryTest, LifecycleCallsFromInsideACallAreIgnored) {
  initWith({{"lib_trace_level", "1"}});
  EXPECT_NE(MOX_startTimingEx(exitingSession, u"A", u"b", 1), 0u);
  EXPECT_NE(MOX_startTiming(u"A", u"b", 1), 0u) << "still initialised";
  EXPECT_EQ(countOf(traceFile(), "called from a callback inside the library: ignored"), 2);
}

TEST_F(LibraryTest, SendingIntervalSetAfterAStartWithoutSendingStartsTheDataThreads) {
  initWith({{"datasending_interval", "0"}, {"lib_trace_level", "1"}});
  EXPECT_EQ(countOf(traceFile(), "MOX data timer is disabled since the interval is set to 0"), 1);
  MOX_changeDataSendingInterval(15);
  MOX_changeDataSendingInterval(20);  // already running: no second pair
  EXPECT_EQ(countOf(traceFile(), "MOX data timer thread is successfully triggered"), 1);
  EXPECT_EQ(countOf(traceFile(), "Data dispatcher thread is successfully triggered"), 1);
}

// A child forked while other threads time ends the inherited library at once and starts its own.
TEST_F(LibraryTest, ForkedChildStartsItsOwnLibraryAndTheParentLosesNothing) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a multi-threaded fork";
#endif
  initWith({{"tracecheck_interval", "1"}});
  Tally tally;
  std::atomic<bool> exited{false};
  HoldableWorkers workers(4, tally, exited);
  ASSERT_TRUE(e2e::waitUntil([&] { return tally.ended.load() >= 1000; }));
  if (kHoldStillForFork) {
    ASSERT_TRUE(workers.holdStill());
  }
  EXPECT_EQ(e2e::inChild([&] {
              const auto begin = std::chrono::steady_clock::now();
              MOX_ProcExit();
              if (std::chrono::steady_clock::now() - begin > std::chrono::seconds(1)) return 3;
              initWith({}, "child");
              for (int i = 0; i < 7; ++i) MOX_endTiming(MOX_startTiming(u"Child", u"work", 1));
              MOX_ProcExit();
              return sumOf(metricFile("child"), "Child|work") == 7 ? 0 : 4;
            }),
            0);
  workers.carryOn();
  ASSERT_TRUE(e2e::waitUntil([&] { return tally.ended.load() >= 2000; })) << "the parent times on";
  workers.join();
  MOX_ProcExit();
  EXPECT_EQ(sumOf(metricFile(), "Svc|run"), tally.ended.load());
  EXPECT_EQ(tally.ended.load(), tally.started.load());
}

// A sanitizer build calls a tenth as often: the limit works per second, not per call.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kFloodCalls = 100000;
#else
constexpr int kFloodCalls = 1000000;
#endif

// A host that loops timing on a terminated context, or with a null session function: the trace
// grows with the seconds of the flood, not its calls, the rest counted in "repeated" lines.
TEST_F(LibraryTest, FloodsOfBadCallsKeepTheTraceSmall) {
  struct Case {
    std::function<void()> prepare, badCall;
    std::string error, sourceFile;  // sourceFile as a regular expression
  } cases[] = {
      {[] { MOX_startTiming(u"A", u"b", 1), MOX_terminateTimingAll(); }, [] { MOX_startTiming(u"A", u"b", 1); },
       "Previous context object is in the terminate status and was not cleaned up by MOX_initContext API",
       "context_manager\\.cpp"},
      {[] {}, [] { MOX_endTimingEx(nullptr, 1); }, "Get sessionId function point is NULL", "moxmain\\.cpp"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sourceFile);
    initWith({});
    c.prepare();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kFloodCalls; ++i) c.badCall();
    const int64_t seconds =  // whole seconds the flood touched
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count() + 2;
    MOX_ProcExit();
    const std::string trace = traceFile();
    EXPECT_LT(trace.size(), 16 * 1024 + seconds * 101 * 200) << "one line per call";
    int64_t counted = countOf(trace, "*** ERROR => " + c.error);
    EXPECT_GE(counted, 100);
    EXPECT_LE(counted, 100 * seconds);
    const std::regex repeated("\\.\\.\\. line of " + c.sourceFile + ":\\d+ repeated (\\d+) times\n");
    int reports = 0;
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), repeated); it != std::sregex_iterator(); ++it) {
      counted += std::stoll((*it)[1]), ++reports;
    }
    EXPECT_GE(reports, 1);
    EXPECT_EQ(counted, kFloodCalls);
  }
}

}  // namespace
