// The configuration object shared by many threads: creation race, and table
// reads during run-time changes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "mox/config/config_sources.h"
#include "mox/config/configuration.h"
#include "thr/thr.h"

namespace {

class ConfigMtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ThrSetNoAutoShutdown();
    ASSERT_EQ(ThrInit(), THR_OK);  // the configuration's mutex works only once the layer runs
    CConfiguration::destroyInstance();
  }
  void TearDown() override {
    CConfiguration::destroyInstance();
    ThrShutdown();
  }
};

// Spins until every participant has arrived, so that the threads really overlap.
void arriveAndWait(std::atomic<int>& arrived, int total) {
  arrived.fetch_add(1);
  while (arrived.load() < total) std::this_thread::yield();
}

TEST_F(ConfigMtTest, ConcurrentFirstUseCreatesOneObject) {
  constexpr int kThreads = 8;
  std::atomic<int> arrived{0};
  std::vector<CConfiguration*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      arriveAndWait(arrived, kThreads);
      seen[i] = CConfiguration::getInstance();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<CConfiguration*>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_EQ(seen[0], CConfiguration::getInstance());
}

TEST_F(ConfigMtTest, ReadersSeeOldOrNewValueDuringChanges) {
  CConfiguration& cfg = *CConfiguration::getInstance();
  const char16_t* pairs[] = {u"zombie_check_interval", u"20", u"instrument_level_threshold_trace", u"1"};
  configureFromPairs(cfg, 2, pairs);

  constexpr int kWriters = 2;
  constexpr int kReaders = 3;
  constexpr int kRounds = 2000;
  std::atomic<int> arrived{0};
  std::atomic<int> badValues{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      arriveAndWait(arrived, kWriters + kReaders);
      for (int i = 0; i < kRounds; ++i) {
        cfg.setParameter(u"datasending_interval", (i + w) % 2 ? u"30" : u"120");
      }
    });
  }
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      arriveAndWait(arrived, kWriters + kReaders);
      for (int i = 0; i < kRounds; ++i) {
        const std::u16string text = cfg.getValue(u"datasending_interval");
        const uint32_t interval = cfg.getDatasendingInterval();
        if (text != u"30" && text != u"120" && text != u"60") badValues.fetch_add(1);
        if (interval != 30 && interval != 120 && interval != 60) badValues.fetch_add(1);
        if (cfg.getZombieCheckInterval() < 20) badValues.fetch_add(1);
        if (cfg.getInstrumentLevelThresholdTrace() != 1) badValues.fetch_add(1);
        if (cfg.getContextMapBucketCount() != 16) badValues.fetch_add(1);
        if (r == 0 && i % 200 == 0) cfg.dumpParameters(sink);
      }
    });
  }
  for (auto& t : threads) t.join();
  std::fclose(sink);
  EXPECT_EQ(badValues.load(), 0);
  // Every write re-derives the fields, so the last text and the field agree.
  EXPECT_EQ(cfg.getDatasendingInterval(), cfg.getValue(u"datasending_interval") == u"30" ? 30u : 120u);
}

}  // namespace
