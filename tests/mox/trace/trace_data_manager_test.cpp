#include "mox/trace/trace_data_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_config.h"
#include "thr/thr.h"

namespace {

class TraceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ThrIsInitialised()) ThrInit();
    store->init(*testConfiguration({{u"cache_section_count", u"2"}}));
  }

  CMTTraceDataManager owned;
  CMTTraceDataManager* store = &owned;
};

TEST_F(TraceStoreTest, SectionsTurnInOrderAndComeBackEmpty) {
  EXPECT_EQ(store->sectionCount(), 4u);  // twice cache_section_count
  std::vector<uint16_t> detached;        // the ring turns 1,2,3,4,1
  for (int i = 0; i < 5; ++i) {
    store->addTrace(u"x");
    CMTTraceSection* section = store->switchSection();
    EXPECT_FALSE(store->isEmpty(section));
    detached.push_back(section->number());
    store->putBack(section);
    EXPECT_TRUE(store->isEmpty(section)) << "its texts went out";
  }
  EXPECT_EQ(detached, (std::vector<uint16_t>{1, 2, 3, 4, 1}));
}

TEST_F(TraceStoreTest, TextsOfEachRoundComeBackAsAddedWhenSectionsAreReused) {
  using Texts = std::vector<std::u16string>;
  // Two full turns of the ring: every section holds texts twice.
  for (int round = 0; round < 8; ++round) {
    const std::u16string mark(static_cast<size_t>(round + 1), static_cast<char16_t>(u'0' + round));
    const Texts added = {u"<event a=\"" + mark + u"\"/>\n", u"", mark + std::u16string(2000, u'x')};
    for (const std::u16string& text : added) store->addTrace(text);
    EXPECT_EQ(store->takeTexts(), added) << "round " << round;
  }
  EXPECT_EQ(store->takeTexts(), Texts{});
}

}  // namespace
