#include "mox/metrics/perf_data_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/agent_test_support.h"
#include "support/recording_agent.h"
#include "thr/thr_guards.h"

using namespace agenttest;

namespace {

const PerfUpdate kStarted{true};
PerfUpdate finished(int32_t elapsedMs) {
  return PerfUpdate{false, true, elapsedMs, -1, 0, -1, PerfUpdate::End::Finished};
}

std::vector<std::u16string> keys(CCacheSection* section) {
  std::vector<std::u16string> out;
  ThrSharedGuard read(section->perfLock);
  for (const auto& entry : section->perfRecords) out.push_back(entry.first);
  return out;
}

class PerfDataManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CPerfDataManager::destroyInstance();
    CConfiguration::destroyInstance();
  }
  CPerfDataManager* start(const std::u16string& sectionCount = u"2") {
    configure({{u"cache_section_count", sectionCount}, {u"datasending_method", u"socket"}});
    CPerfDataManager* manager = CPerfDataManager::getInstance();
    manager->init();
    auto owned = std::make_unique<RecordingAgent>();
    agent_ = owned.get();
    manager->setDataAgent(std::move(owned));
    return manager;
  }
  RecordingAgent* agent_ = nullptr;
};

TEST_F(PerfDataManagerTest, SwitchCarriesRunningTimingsAndOldContentGoesWhenCurrentAgain) {
  CPerfDataManager* manager = start(u"3");
  for (const PerfUpdate& update : {kStarted, kStarted, finished(5)}) manager->updatePerfRecord(u"A|run", update);
  manager->updatePerfRecord(u"B|done", finished(7));

  CCacheSection* first = manager->switchSection();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->number, 1);
  EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"A|run", u"B|done"}));
  const PerfValues v = manager->getPerfRecord(u"A|run")->snapshot();
  EXPECT_EQ(std::tuple(v.active, v.finished, v.count, v.minElapsed), std::tuple(1u, 0u, 0u, -1));  // only running
  manager->putBack(first);

  for (uint16_t expected : std::initializer_list<uint16_t>{2, 3}) {
    EXPECT_EQ(keys(first).size(), 2u);  // still queued behind
    CCacheSection* ended = manager->switchSection();
    EXPECT_EQ(ended->number, expected);
    EXPECT_EQ(keys(ended), (std::vector<std::u16string>{u"A|run"}));  // B ended and was not timed again
    manager->putBack(ended);
  }
  // Current again: only the carried running timing is left.
  EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"A|run"}));
  EXPECT_TRUE(manager->hasNoResourceRecords(first));
}

TEST_F(PerfDataManagerTest, RecordsGoOutInCodeUnitOrderAndASecondEntryWhileBusyReturnsAtOnce) {
  CPerfDataManager* manager = start();
  agent_->onSend = [manager] {
    manager->updatePerfRecord(u"Late|k", finished(1));
    manager->processData(MetricFormat());
  };
  for (const char16_t* key : {u"\uFF21|m", u"\U0001F600|m", u"A|m"}) manager->updatePerfRecord(key, finished(1));
  manager->processData(MetricFormat());
  std::u16string text;
  for (const std::u16string& part : agent_->texts()) text += part;
  EXPECT_LT(text.find(u"A|m"), text.find(u"\U0001F600|m"));  // a surrogate sorts before U+FF21
  EXPECT_LT(text.find(u"\U0001F600|m"), text.find(u"\uFF21|m"));
  EXPECT_EQ(text.find(u"Late|k"), std::u16string::npos);  // the inner runs neither rotated nor sent it

  manager->setDataAgent(nullptr);  // without an agent the sections still rotate
  manager->processData(MetricFormat());
  CCacheSection* next = manager->switchSection();
  EXPECT_EQ(next->number, 1);
  EXPECT_TRUE(keys(next).empty());  // "Late|k" went with the agentless run
  manager->putBack(next);
}

}  // namespace
