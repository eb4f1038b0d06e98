#include "mox/metrics/perf_data_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dptrc/dptrc.h"
#include "mox/agents/file_agent.h"
#include "support/agent_test_support.h"
#include "support/recording_agent.h"
#include "thr/thr_guards.h"

using namespace agenttest;

namespace {

PerfUpdate started() {
  PerfUpdate u;
  u.incActive = true;
  return u;
}

PerfUpdate finishedWithTimes(int32_t elapsedMs) {
  PerfUpdate u;
  u.addTimes = true;
  u.elapsedMs = elapsedMs;
  u.end = PerfUpdate::End::Finished;
  return u;
}

MetricFormat scopeOne() {
  MetricFormat f;
  f.prefix = u"SYS|app";
  f.scope = 1;
  return f;
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
    trcCloseLibraryFile();
    TrcLevel.store(0);  // closing keeps the level; later lines would go to stderr
    setProcessNameSource(nullptr);
    CConfiguration::destroyInstance();
  }
  CPerfDataManager* start(const std::u16string& sectionCount = u"2") {
    setProcessName(u"app");
    configure({{u"cache_section_count", sectionCount}, {u"datasending_method", u"file"}, {u"logdir", dir_.path16()}});
    CPerfDataManager* manager = CPerfDataManager::getInstance();
    manager->init();
    return manager;
  }
  TempDir dir_;
};

TEST_F(PerfDataManagerTest, SwitchCarriesRunningTimingsAndOldContentGoesWhenCurrentAgain) {
  CPerfDataManager* manager = start(u"3");
  manager->updatePerfRecord(u"A|run", started());
  manager->updatePerfRecord(u"A|run", started());
  manager->updatePerfRecord(u"A|run", finishedWithTimes(5));
  manager->updatePerfRecord(u"B|done", finishedWithTimes(7));

  CCacheSection* first = manager->switchSection();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->number, 1);
  EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"A|run", u"B|done"}));
  const PerfValues v = manager->getPerfRecord(u"A|run")->snapshot();
  EXPECT_EQ(v.active, 1u);  // carried with its key and active count only
  EXPECT_EQ(v.finished, 0u);
  EXPECT_EQ(v.count, 0u);
  EXPECT_EQ(v.minElapsed, -1);
  manager->putBack(first);

  for (uint16_t expected : {2, 3}) {
    EXPECT_EQ(keys(first).size(), 2u);  // still queued behind
    CCacheSection* ended = manager->switchSection();
    EXPECT_EQ(ended->number, expected);
    EXPECT_EQ(keys(ended), (std::vector<std::u16string>{u"A|run"}));  // B ended and was not timed again
    manager->putBack(ended);
  }
  // Current again, three intervals later: only the carried running timing is left.
  EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"A|run"}));
  EXPECT_TRUE(manager->hasNoResourceRecords(first));
}

TEST_F(PerfDataManagerTest, ProcessDataWritesRecordsInCodeUnitOrderThroughTheFileAgent) {
  CPerfDataManager* manager = start();
  ASSERT_NE(dynamic_cast<CMTDataSendingFileAgent*>(manager->dataAgent()), nullptr);
  manager->updatePerfRecord(u"\uFF21|m", finishedWithTimes(4));
  manager->updatePerfRecord(u"\U0001F600|m", started());  // a surrogate sorts before U+FF21
  manager->updatePerfRecord(u"A|m", finishedWithTimes(6));
  manager->processData(scopeOne());

  const std::string head = "<metric type=\"IntAverage\" name=\"SYS|app|";
  const std::string running = head + "\xF0\x9F\x98\x80|m:Active Counter\" value=\"1\" />\n" + head +
                              "\xF0\x9F\x98\x80|m:Finished Counter\" value=\"0\" />\n" + head +
                              "\xF0\x9F\x98\x80|m:Finished with undefined state\" value=\"0\" />\n";
  auto finished = [&](const std::string& key, const std::string& ms) {
    return head + key + ":Active Counter\" value=\"0\" />\n" + head + key + ":Finished Counter\" value=\"1\" />\n" +
           head + key + ":Finished with undefined state\" value=\"0\" />\n" + head + key +
           ":Avg. Elapsed Time(ms)\" value=\"" + ms + "\" max=\"" + ms + "\" min=\"" + ms + "\" count=\"1\" />\n";
  };
  const std::string firstInterval = finished("A|m", "6") + running + finished("\xEF\xBC\xA1|m", "4");
  EXPECT_EQ(readFile(dir_.file("app_mtdata.log")), firstInterval);
  manager->processData(scopeOne());  // only the carried running timing is left
  EXPECT_EQ(readFile(dir_.file("app_mtdata.log")), firstInterval + running);
}

TEST_F(PerfDataManagerTest, SecondEntryWhileBusyReturnsAtOnce) {
  CPerfDataManager* manager = start();
  auto owned = std::make_unique<RecordingAgent>();
  RecordingAgent* agent = owned.get();
  // Runs the data job again from inside the job, as a second caller would.
  agent->onSend = [manager] {
    manager->updatePerfRecord(u"Late|k", finishedWithTimes(1));
    manager->processData(MetricFormat());
  };
  manager->setDataAgent(std::move(owned));
  manager->updatePerfRecord(u"First|k", finishedWithTimes(1));
  manager->processData(MetricFormat());
  ASSERT_EQ(agent->count(), 1u);  // the inner run neither rotated nor sent "Late|k"
  EXPECT_NE(agent->texts()[0].find(u"First|k"), std::u16string::npos);

  manager->setDataAgent(nullptr);  // without an agent the sections still rotate
  manager->processData(scopeOne());
  CCacheSection* next = manager->switchSection();
  EXPECT_EQ(next->number, 1);
  EXPECT_TRUE(keys(next).empty());  // "Late|k" went with the agentless run
  manager->putBack(next);
}

}  // namespace
