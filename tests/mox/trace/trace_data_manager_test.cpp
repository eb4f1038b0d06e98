#include "mox/trace/trace_data_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/recording_agent.h"
#include "support/test_config.h"
#include "thr/thr.h"

namespace {

using Texts = std::vector<std::u16string>;

const std::u16string kPrefix = u"VEL_MOX|shop_7";
const std::u16string kVersion =
    u"<metric type=\"StringEvent\" name=\"VEL_MOX|shop_7:MOX library version\" value=\"2.3.6\" />\n";

class TraceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ThrIsInitialised()) ThrInit();
    configureForTest({{u"cache_section_count", u"2"}});
    startStore();
  }
  void TearDown() override {
    CMTTraceDataManager::destroyInstance();
    CConfiguration::destroyInstance();
  }
  // A new manager whose agent is a RecordingAgent.
  void startStore() {
    CMTTraceDataManager::destroyInstance();
    auto owned = std::make_unique<RecordingAgent>();
    agent = owned.get();
    store = CMTTraceDataManager::getInstance();
    store->init(std::move(owned));
  }

  CMTTraceDataManager* store = nullptr;
  RecordingAgent* agent = nullptr;
};

TEST_F(TraceStoreTest, VersionEventGoesFirstOnceAReadyAgentIsThereAndTextsFollowInOrder) {
  agent->ready = false;
  store->addTrace(u"lost");
  store->processTrace(kPrefix);
  EXPECT_TRUE(agent->texts().empty());
  EXPECT_FALSE(store->versionSent());

  // Texts of a run without a ready agent are not sent later.
  agent->ready = true;
  store->addTrace(u"<event a/>\n");
  store->addTrace(u"");  // empty texts travel like any other
  store->addTrace(u"<event b/>\n");
  store->processTrace(kPrefix);
  store->processTrace(kPrefix);  // an interval without texts sends nothing
  store->addTrace(u"later");
  store->processTrace(kPrefix);
  EXPECT_EQ(agent->texts(), (Texts{kVersion, u"<event a/>\n", u"", u"<event b/>\n", u"later"}));
  EXPECT_TRUE(store->versionSent());

  startStore();  // a new manager sends the version event again
  EXPECT_FALSE(store->versionSent());
  store->processTrace(kPrefix);
  EXPECT_EQ(agent->texts(), (Texts{kVersion}));
}

TEST_F(TraceStoreTest, DetachedSectionKeepsItsTextsUntilItIsCurrentAgain) {
  EXPECT_EQ(store->sectionCount(), 4u);  // twice cache_section_count
  store->addTrace(u"x");
  CMTTraceSection* first = store->switchSection();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->number(), 1);
  store->putBack(first);
  // The ring turns 1,2,3,4,1: section 1 keeps its text for three more
  // rotations and is emptied when it becomes current again.
  std::vector<uint16_t> detached;
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(store->isEmpty(first)) << "rotation " << i;
    CMTTraceSection* section = store->switchSection();
    detached.push_back(section->number());
    store->putBack(section);
  }
  EXPECT_EQ(detached, (std::vector<uint16_t>{2, 3, 4}));
  EXPECT_TRUE(store->isEmpty(first));
  store->addTrace(u"y");
  CMTTraceSection* again = store->switchSection();
  EXPECT_EQ(again, first);
  RecordingAgent direct;
  store->sendAll(again, &direct);
  EXPECT_EQ(direct.texts(), (Texts{u"y"}));
  store->putBack(again);
}

TEST_F(TraceStoreTest, SecondJobWhileOneRunsReturnsAtOnce) {
  // The agent re-enters the job from inside the running one: the nested call
  // must neither rotate, nor send, nor wait for the running job.
  store->addTrace(u"a");
  int nested = 0;
  agent->onSend = [&] {
    if (nested++ > 0) return;
    EXPECT_TRUE(store->busy());
    store->addTrace(u"b");  // producers are not blocked while texts go out
    store->processTrace(kPrefix);
  };
  store->processTrace(kPrefix);
  agent->onSend = nullptr;
  EXPECT_EQ(agent->texts(), (Texts{kVersion, u"a"}));
  EXPECT_FALSE(store->busy());
  store->processTrace(kPrefix);
  EXPECT_EQ(agent->texts(), (Texts{kVersion, u"a", u"b"}));
}

}  // namespace
