// The configuration object shared by many threads: table reads during run-time changes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
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
    ASSERT_EQ(ThrInit(), THR_OK);
  }
  void TearDown() override { ThrShutdown(); }
  // Runs body(i) on n threads that all start together, so that they really overlap.
  static void runTogether(int n, const std::function<void(int)>& body) {
    std::atomic<int> arrived{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
      threads.emplace_back([&, i] {
        arrived.fetch_add(1);
        while (arrived.load() < n) std::this_thread::yield();
        body(i);
      });
    }
    for (auto& t : threads) t.join();
  }
};

TEST_F(ConfigMtTest, ReadersSeeOldOrNewValueDuringChanges) {
  CConfiguration cfg;
  const char16_t* pairs[] = {u"zombie_check_interval", u"20", u"instrument_level_threshold_trace", u"1"};
  configureFromPairs(cfg, 2, pairs);
  std::atomic<int> badValues{0};
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  runTogether(5, [&](int t) {
    for (int i = 0; i < 2000; ++i) {
      if (t < 2) {  // writers
        cfg.setParameter(u"datasending_interval", (i + t) % 2 ? u"30" : u"120");
        continue;
      }
      const std::u16string text = cfg.getValue(u"datasending_interval");
      const uint32_t interval = cfg.getDatasendingInterval();
      badValues += (text != u"30" && text != u"120" && text != u"60") +
                   (interval != 30 && interval != 120 && interval != 60) +
                   (cfg.getZombieCheckInterval() < 20 || cfg.getInstrumentLevelThresholdTrace() != 1) +
                   (cfg.getContextMapBucketCount() != 16);
      if (t == 2 && i % 200 == 0) cfg.dumpParameters(sink);
    }
  });
  std::fclose(sink);
  EXPECT_EQ(badValues.load(), 0);
  // Every write re-derives the fields, so the last text and the field agree.
  EXPECT_EQ(cfg.getDatasendingInterval(), cfg.getValue(u"datasending_interval") == u"30" ? 30u : 120u);
}

}  // namespace
