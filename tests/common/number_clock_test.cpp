// Decimal text and the millisecond tick.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>

#include "common/clock.h"
#include "common/number_text.h"

TEST(NumberText, AppendsSignedAndUnsignedExtremes) {
  std::u16string out = u"v=";
  appendDecimal(out, std::numeric_limits<int64_t>::min());
  out += u' ';
  appendDecimal(out, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(out, u"v=-9223372036854775808 18446744073709551615");
  EXPECT_EQ(decimalText(-1), u"-1");
  std::u16string padded;
  appendPaddedDecimal(padded, 7, 3, u'0');
  appendPaddedDecimal(padded, 2026, 4, u' ');
  appendPaddedDecimal(padded, 5, 2, u' ');
  EXPECT_EQ(padded, u"0072026 5");
}

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
