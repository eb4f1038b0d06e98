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
    auto owned = std::make_unique<RecordingAgent>();
    agent = owned.get();
    store = CMTTraceDataManager::getInstance();
    store->init(std::move(owned));
  }
  void TearDown() override {
    CMTTraceDataManager::destroyInstance();
    CConfiguration::destroyInstance();
  }

  CMTTraceDataManager* store = nullptr;
  RecordingAgent* agent = nullptr;
};

TEST_F(TraceStoreTest, VersionEventGoesFirstOnceAReadyAgentIsThereAndTextsFollowInOrder) {
  agent->ready = false;
  store->addTrace(u"lost");
  store->processTrace(kPrefix);
  EXPECT_TRUE(agent->texts().empty());
  agent->ready = true;  // texts of a run without a ready agent are not sent later
  store->addTrace(u"<event a/>\n");
  store->addTrace(u"");  // empty texts travel like any other
  store->addTrace(u"<event b/>\n");
  store->processTrace(kPrefix);
  store->processTrace(kPrefix);  // an interval without texts sends nothing
  store->addTrace(u"later");
  store->processTrace(kPrefix);
  EXPECT_EQ(agent->texts(), (Texts{kVersion, u"<event a/>\n", u"", u"<event b/>\n", u"later"}));
}

TEST_F(TraceStoreTest, DetachedSectionKeepsItsTextsUntilItIsCurrentAgain) {
  EXPECT_EQ(store->sectionCount(), 4u);  // twice cache_section_count
  store->addTrace(u"x");
  CMTTraceSection* first = store->switchSection();
  store->putBack(first);
  std::vector<uint16_t> detached{first->number()};  // the ring turns 1,2,3,4,1
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(store->isEmpty(first)) << "kept until current again";
    CMTTraceSection* section = store->switchSection();
    detached.push_back(section->number());
    store->putBack(section);
  }
  EXPECT_EQ(detached, (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_TRUE(store->isEmpty(first));
}

TEST_F(TraceStoreTest, SecondJobWhileOneRunsReturnsAtOnce) {
  // Re-entered from the agent, the job neither rotates, nor sends, nor waits.
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
