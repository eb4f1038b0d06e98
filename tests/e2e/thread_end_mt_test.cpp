// Threads that time units of work and end: each keeps its finished context registered between units, and its end must
// hand that context back to the registry (orphaned), whatever the platform's thread-local storage does at thread end.
// Host threads come and go while the library is ended and started again.
#include <atomic>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

using e2e::LibraryTest;

// A few units of work on the thread's own context, nested and repeated as a worker's requests are; the count of starts
// the library refused.
int timeUnits(int units) {
  int refused = 0;
  for (int i = 0; i < units; ++i) {
    const uint32_t outer = MOX_startTiming(u"Worker", u"request", 1);
    const uint32_t inner = MOX_startTiming(u"Store", u"read", 2);
    refused += (outer == 0) + (inner == 0);
    MOX_endTiming(inner);
    MOX_endTiming(outer);
  }
  return refused;
}

// Under a bound of two open contexts, every ended thread's kept context must make way for the next thread's: one left
// registered would refuse it.
TEST_F(LibraryTest, EndedThreadsGiveTheirKeptContextsPlacesBack) {
  initWith({{"max_open_contexts", "2"}, {"datasending_interval", "0"}});
  for (int round = 0; round < 12; ++round) {
    std::atomic<int> refused{0};
    std::vector<std::thread> pair;
    for (int t = 0; t < 2; ++t) pair.emplace_back([&refused] { refused += timeUnits(3); });
    for (std::thread& thread : pair) thread.join();
    ASSERT_EQ(refused.load(), 0) << "round " << round;
  }
  EXPECT_EQ(e2e::countOf(traceFile(), "max_open_contexts reached"), 0);
}

// Workers start, time and end in waves while the main thread ends the library and starts it again: the kept contexts of
// ended threads outlive the registry that counted them, and each start's registry serves new threads from scratch.
TEST_F(LibraryTest, ThreadsEndingAcrossRestartsLeaveTheLibraryWhole) {
  for (int restart = 0; restart < 4; ++restart) {
    initWith({{"max_open_contexts", "8"}});
    std::atomic<int> refused{0};
    for (int wave = 0; wave < 3; ++wave) {
      std::vector<std::thread> workers;
      for (int t = 0; t < 4; ++t) workers.emplace_back([&refused] { refused += timeUnits(20); });
      for (std::thread& thread : workers) thread.join();
    }
    EXPECT_EQ(refused.load(), 0) << "restart " << restart;
    MOX_outputMetricData();
    EXPECT_GE(e2e::countOf(metricFile(), "Worker|request:Finished Counter"), 1) << "restart " << restart;
    MOX_ProcExit();
  }
}

}  // namespace
