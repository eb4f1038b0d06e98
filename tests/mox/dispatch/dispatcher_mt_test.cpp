#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "common/number_text.h"
#include "dispatch_test_support.h"
#include "support/test_files.h"

using testsupport::waitUntil;

namespace {

size_t threadCount() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// The timer threads drive the trace job while producers add texts and other host threads run the jobs themselves:
// nothing is lost or sent twice, and a stop ends every library thread without waiting out the 15 s data timer.
TEST(DispatcherThreadsTest, TimersProducersAndJobsFromSeveralThreadsLoseNothing) {
  std::thread([] {}).join();  // a sanitizer starts a helper thread with the first thread
  const size_t baselineThreads = threadCount();
  {
    DispatchWorld world({{u"tracecheck_interval", u"2"},
                         {u"datasending_interval", u"15"},
                         {u"zombie_check_interval", u"15"},
                         {u"system_name", u"SYS"}},
                        u"host", u"1");
    CDispatcherManager* dispatcher = world.dispatcher;
    RecordingAgent* traceAgent = world.traceAgent;
    world.traces.addTrace(u"first");
    dispatcher->start();
    EXPECT_TRUE(dispatcher->isRunning());
    ASSERT_TRUE(waitUntil([&] { return traceAgent->count() >= 2; }));  // sent by the timer thread

    constexpr int kProducers = 4;
    constexpr int kTextsEach = 300;
    std::atomic<bool> producing{true};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
      threads.emplace_back([p, &world] {
        PerfUpdate update;
        update.addTimes = true;
        update.elapsedMs = 3;
        update.end = PerfUpdate::End::Finished;
        for (int i = 0; i < kTextsEach; ++i) {
          world.traces.addTrace(u"t" + decimalText(p * kTextsEach + i));
          world.metrics.updatePerfRecord(u"Order|create", update);
        }
      });
    }
    std::thread flusher([&] {
      while (producing.load()) dispatcher->runTraceAndDataJobs();
    });
    std::thread dataSide([&] {
      while (producing.load()) dispatcher->runDataDispatch();
    });
    for (std::thread& t : threads) t.join();
    producing = false;
    flusher.join();
    dataSide.join();

    // The lifecycle's exit order, then the final flush.
    dispatcher->stopTimers();
    dispatcher->stopDispatchers();
    EXPECT_FALSE(dispatcher->isRunning());
    EXPECT_FALSE(dispatcher->anyThreadAlive());
    dispatcher->runTraceAndDataJobs();
    const std::vector<std::u16string> texts = traceAgent->texts();
    EXPECT_EQ(texts[0], CMTTraceDataManager::versionEventText(u"SYS|host_1"));
    EXPECT_EQ(texts[1], u"first");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), texts[0]), 1);
    EXPECT_EQ(std::set<std::u16string>(texts.begin() + 2, texts.end()).size(), texts.size() - 2) << "a text came twice";
    EXPECT_EQ(texts.size(), 2u + kProducers * kTextsEach);
    EXPECT_GT(world.dataAgent->count(), 0u);
  }
  EXPECT_TRUE(waitUntil([&] { return threadCount() == baselineThreads; })) << "a library thread is left";
}

}  // namespace
