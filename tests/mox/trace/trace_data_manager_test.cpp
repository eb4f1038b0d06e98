#include "mox/trace/trace_data_manager.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_config.h"
#include "thr/thr.h"

namespace {

TEST(TraceStoreTest, SectionsTurnInOrderAndComeBackEmpty) {
  if (!ThrIsInitialised()) ThrInit();
  CMTTraceDataManager store;
  store.init(*testConfiguration({{u"cache_section_count", u"2"}}));
  EXPECT_EQ(store.sectionCount(), 4u);  // twice cache_section_count
  std::vector<uint16_t> detached;       // the ring turns 1,2,3,4,1
  for (int i = 0; i < 5; ++i) {
    store.addTrace(u"x");
    CMTTraceSection* section = store.switchSection();
    EXPECT_FALSE(store.isEmpty(section));
    detached.push_back(section->number());
    store.putBack(section);
    EXPECT_TRUE(store.isEmpty(section)) << "its texts went out";
  }
  EXPECT_EQ(detached, (std::vector<uint16_t>{1, 2, 3, 4, 1}));
}

}  // namespace
