#include "mox/dispatch/dispatcher_manager.h"

#include <gtest/gtest.h>
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/number_text.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/metric_format_source.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/recording_agent.h"
#include "mox/trace/test_config.h"
#include "mox/trace/trace_data_manager.h"

namespace {

size_t threadCount() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

bool waitUntil(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

const std::u16string kVersion = CMTTraceDataManager::versionEventText(u"SYS|host_1");

class DispatcherThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A sanitizer starts a helper thread with the first thread; let it come now.
    std::thread([] {}).join();
    baselineThreads = threadCount();
    configureForTest({{u"tracecheck_interval", u"2"},
                      {u"datasending_interval", u"15"},
                      {u"zombie_check_interval", u"15"},
                      {u"system_name", u"SYS"},
                      {u"cache_section_count", u"2"}});
    dispatcher = CDispatcherManager::getInstance();
    dispatcher->init();
    CMTContextManager* registry = CMTContextManager::getInstance();
    registry->init();
    registry->setProcessName(u"host");
    registry->setInstanceNumber(u"1");
    auto owned = std::make_unique<RecordingAgent>();
    traceAgent = owned.get();
    CMTTraceDataManager::getInstance()->init(std::move(owned));
    auto ownedData = std::make_unique<RecordingAgent>();
    dataAgent = ownedData.get();
    CPerfDataManager::getInstance()->init();
    CPerfDataManager::getInstance()->setDataAgent(std::move(ownedData));
  }
  void TearDown() override {
    // The lifecycle's exit order.
    dispatcher->stopTimers();
    dispatcher->stopDispatchers();
    EXPECT_FALSE(dispatcher->anyThreadAlive());
    CMTTraceDataManager::destroyInstance();
    CPerfDataManager::destroyInstance();
    CMTContextManager::destroyInstance();
    CDispatcherManager::destroyInstance();
    CConfiguration::destroyInstance();
    EXPECT_TRUE(waitUntil([&] { return threadCount() == baselineThreads; })) << "a library thread is left";
  }

  size_t baselineThreads = 0;
  CDispatcherManager* dispatcher = nullptr;
  RecordingAgent* traceAgent = nullptr;
  RecordingAgent* dataAgent = nullptr;
};

TEST_F(DispatcherThreadsTest, TraceTimerDrivesTheTraceJobAndStopEndsEveryThread) {
  CMTTraceDataManager::getInstance()->addTrace(u"<event first/>\n");
  dispatcher->start();
  EXPECT_TRUE(dispatcher->isRunning());
  ASSERT_TRUE(waitUntil([&] { return traceAgent->count() >= 2; }));
  const std::vector<std::u16string> texts = traceAgent->texts();
  EXPECT_EQ(texts[0], kVersion);
  EXPECT_EQ(texts[1], u"<event first/>\n");
  // TearDown stops and destroys; a stop must not wait out the 15 s data timer.
}

TEST_F(DispatcherThreadsTest, ProducersAndJobsFromSeveralThreadsLoseNothing) {
  dispatcher->start();
  constexpr int kProducers = 4;
  constexpr int kTextsEach = 300;
  std::atomic<bool> producing{true};

  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([p] {
      CPerfDataManager* perf = CPerfDataManager::getInstance();
      PerfUpdate update;
      update.addTimes = true;
      update.elapsedMs = 3;
      update.end = PerfUpdate::End::Finished;
      for (int i = 0; i < kTextsEach; ++i) {
        std::u16string text = u"t";
        appendDecimal(text, static_cast<int64_t>(p * kTextsEach + i));
        CMTTraceDataManager::getInstance()->addTrace(text);
        perf->updatePerfRecord(u"Order|create", update);
      }
    });
  }
  // MOX_outputMetricData from one host thread, the data dispatcher's work
  // from another, while the trace dispatcher thread runs on its timer.
  std::thread flusher([&] {
    while (producing.load()) runTraceAndDataJobs();
  });
  std::thread dataSide([&] {
    while (producing.load()) dispatcher->runDataDispatch();
  });
  for (std::thread& t : threads) t.join();
  producing = false;
  flusher.join();
  dataSide.join();

  dispatcher->stopTimers();
  dispatcher->stopDispatchers();
  runTraceAndDataJobs();  // the final flush

  std::vector<std::u16string> texts = traceAgent->texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), kVersion);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), kVersion), 1);
  std::multiset<std::u16string> traces(texts.begin() + 1, texts.end());
  EXPECT_EQ(traces.size(), static_cast<size_t>(kProducers * kTextsEach));
  EXPECT_EQ(std::set<std::u16string>(traces.begin(), traces.end()).size(), traces.size()) << "a text came twice";
  EXPECT_GT(dataAgent->count(), 0u);
}

}  // namespace
