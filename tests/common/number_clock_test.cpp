// The millisecond tick and its wrap.
#include <gtest/gtest.h>

#include <atomic>

#include "common/clock.h"

namespace {
std::atomic<uint32_t> fakeTick{0};
uint32_t readFakeTick() { return fakeTick.load(); }
}  // namespace

TEST(Clock, TickWrapsThroughTickDiffAndSourceIsReplaceable) {
  EXPECT_EQ(tickDiff(5000, 2000), 3000u);
  EXPECT_EQ(tickDiff(0, TICK_WRAP_MS - 1), 1u);
  fakeTick = TICK_WRAP_MS - 10;
  setTickSource(readFakeTick);
  const uint32_t before = msTick();
  fakeTick = 20;
  const uint32_t after = msTick();
  setTickSource(nullptr);
  EXPECT_EQ(tickDiff(after, before), 30u);
  EXPECT_LT(msTick(), TICK_WRAP_MS);
}
