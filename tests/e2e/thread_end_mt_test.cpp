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

// Under a bound of two open contexts, pairs of threads time and end in waves while the library is ended and started
// again: every ended thread's kept context must make way for the next pair's (one left registered would refuse it),
// also when it outlives the registry that counted it. No data run: its scan must not clean up for the threads.
TEST_F(LibraryTest, EndedThreadsGiveTheirKeptContextsPlacesBackAcrossRestarts) {
  for (int restart = 0; restart < 4; ++restart) {
    initWith({{"max_open_contexts", "2"}, {"datasending_interval", "0"}});
    for (int wave = 0; wave < 4; ++wave) {
      std::atomic<int> refused{0};
      std::vector<std::thread> pair;
      for (int t = 0; t < 2; ++t) pair.emplace_back([&refused] { refused += timeUnits(10); });
      for (std::thread& thread : pair) thread.join();
      ASSERT_EQ(refused.load(), 0) << "restart " << restart << ", wave " << wave;
    }
    EXPECT_EQ(e2e::countOf(traceFile(), "max_open_contexts reached"), 0);
    MOX_ProcExit();
  }
}

}  // namespace
