#include "mox/metrics/perf_data_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dptrc/dptrc.h"
#include "mox/agents/agent_test_support.h"
#include "mox/agents/file_agent.h"

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

class PerfDataManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CPerfDataManager::destroyInstance();
    TrcCloseLibraryFile();
    TrcLevel.store(0);  // closing keeps the level; later lines would go to stderr
    setProcessNameSource(nullptr);
    CConfiguration::destroyInstance();
  }

  CPerfDataManager* start(const std::u16string& sectionCount = u"2") {
    setProcessName(u"app");
    configure({{u"cache_section_count", sectionCount}, {u"datasending_method", u"file"},
               {u"logdir", dir_.path16()}});
    CPerfDataManager* manager = CPerfDataManager::getInstance();
    manager->init();
    return manager;
  }

  std::string metricFile() const { return readFile(dir_.path() + "/app_mtdata.log"); }

  TempDir dir_;
};

std::vector<std::u16string> keys(CCacheSection* section) {
  std::vector<std::u16string> out;
  for (const auto& entry : section->perfRecords) out.push_back(entry.first);
  return out;
}

TEST_F(PerfDataManagerTest, DoesNothingBeforeInit) {
  CPerfDataManager* manager = CPerfDataManager::getInstance();
  manager->updatePerfRecord(u"C|m", started());
  EXPECT_EQ(manager->getPerfRecord(u"C|m"), nullptr);
  EXPECT_EQ(manager->switchSection(), nullptr);
  manager->processData(scopeOne());
  manager->processData(scopeOne());  // the busy flag was cleared
  EXPECT_EQ(manager->dataAgent(), nullptr);
}

TEST_F(PerfDataManagerTest, SwitchCarriesOnlyRunningTimingsWithKeyAndActive) {
  CPerfDataManager* manager = start();
  manager->updatePerfRecord(u"A|run", started());
  manager->updatePerfRecord(u"A|run", started());
  manager->updatePerfRecord(u"A|run", finishedWithTimes(5));
  manager->updatePerfRecord(u"B|done", started());
  manager->updatePerfRecord(u"B|done", finishedWithTimes(7));

  CCacheSection* ended = manager->switchSection();
  ASSERT_NE(ended, nullptr);
  EXPECT_EQ(ended->number, 1);
  EXPECT_EQ(keys(ended), (std::vector<std::u16string>{u"A|run", u"B|done"}));

  CPerfRecord* carried = manager->getPerfRecord(u"A|run");
  const PerfValues v = carried->snapshot();
  EXPECT_EQ(v.active, 1u);
  EXPECT_EQ(v.finished, 0u);
  EXPECT_EQ(v.count, 0u);
  EXPECT_EQ(v.maxElapsed, 0);
  EXPECT_EQ(v.minElapsed, -1);
  manager->putBack(ended);

  CCacheSection* next = manager->switchSection();
  EXPECT_EQ(next->number, 2);
  EXPECT_EQ(keys(next), (std::vector<std::u16string>{u"A|run"}));  // B ended and was not timed again
  manager->putBack(next);
}

TEST_F(PerfDataManagerTest, SectionContentIsDiscardedWhenItBecomesCurrentAgain) {
  CPerfDataManager* manager = start(u"3");
  manager->updatePerfRecord(u"Old|key", finishedWithTimes(1));

  CCacheSection* first = manager->switchSection();
  manager->putBack(first);
  for (uint16_t expected : {2, 3}) {
    EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"Old|key"}));  // still queued behind
    CCacheSection* ended = manager->switchSection();
    EXPECT_EQ(ended->number, expected);
    manager->putBack(ended);
  }
  EXPECT_TRUE(manager->hasNoPerfRecords(first));  // current again, three intervals later
  EXPECT_TRUE(manager->hasNoResourceRecords(first));
}

TEST_F(PerfDataManagerTest, ProcessDataWritesRecordsInCodeUnitOrderThroughTheFileAgent) {
  CPerfDataManager* manager = start();
  ASSERT_NE(dynamic_cast<CMTDataSendingFileAgent*>(manager->dataAgent()), nullptr);
  TrcOpenLibraryFile(u"trc", dir_.path16(), 2);
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
  EXPECT_EQ(metricFile(), firstInterval);

  manager->processData(scopeOne());  // only the carried running timing is left
  EXPECT_EQ(metricFile(), firstInterval + running);

  TrcCloseLibraryFile();
  const std::string trace = readFile(dir_.path() + "/trc_mox.trc");
  size_t at = 0;
  for (const char* line : {"Start copying[lock]\n", "End copying[unlock]\n", "Performance or Resource Data Detected\n",
                           "Performance or Resource Data Sending Finished\n", "Processing finished\n"}) {
    at = trace.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << " missing in order from:\n" << trace;
  }
}

// Runs the data job again from inside the job, as a second caller would.
class ReentrantAgent : public CMTDataSendingAgent {
 public:
  bool checkConnection() override { return true; }
  void sendData(std::u16string text) override {
    texts.push_back(std::move(text));
    CPerfDataManager* manager = CPerfDataManager::getInstance();
    manager->updatePerfRecord(u"Late|k", finishedWithTimes(1));
    manager->processData(MetricFormat());
  }
  std::u16string receiveData() override { return std::u16string(); }
  std::vector<std::u16string> texts;
};

TEST_F(PerfDataManagerTest, SecondEntryWhileBusyReturnsAtOnce) {
  CPerfDataManager* manager = start();
  auto owned = std::make_unique<ReentrantAgent>();
  ReentrantAgent* agent = owned.get();
  manager->setDataAgent(std::move(owned));
  manager->updatePerfRecord(u"First|k", finishedWithTimes(1));

  manager->processData(MetricFormat());
  ASSERT_EQ(agent->texts.size(), 1u);  // the inner run neither rotated nor sent "Late|k"
  EXPECT_NE(agent->texts[0].find(u"First|k"), std::u16string::npos);

  manager->setDataAgent(nullptr);
  CCacheSection* late = manager->switchSection();
  EXPECT_EQ(keys(late), (std::vector<std::u16string>{u"Late|k"}));
  manager->putBack(late);
}

TEST_F(PerfDataManagerTest, WithoutAgentSectionsStillRotate) {
  setProcessName(u"app");
  configure({{u"datasending_method", u"socket"}});
  CPerfDataManager* manager = CPerfDataManager::getInstance();
  manager->init();
  EXPECT_EQ(manager->dataAgent(), nullptr);
  manager->updatePerfRecord(u"C|m", finishedWithTimes(1));
  manager->processData(scopeOne());
  CCacheSection* ended = manager->switchSection();
  EXPECT_EQ(ended->number, 2);
  manager->putBack(ended);
}

}  // namespace
