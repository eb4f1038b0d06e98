// One passport shared by threads, and GUIDs created by several at once.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "epp_test_support.h"

using namespace epptest;

namespace {

using EppThreads = EppTest;

TEST_F(EppThreads, SerializingWhileOthersChangeThePassportAlwaysGivesAReadableStream) {
  setLevel(1);  // errors only: the threads write no lines unless something fails
  Passport shared;
  constexpr int kRounds = 400;
  std::vector<std::thread> threads;
  for (uint16_t part = 0; part < 2; ++part) {
    threads.emplace_back([&, part] {
      for (int i = 0; i < kRounds; ++i) {
        EXPECT_EQ(setText(eppSetTransactionId, shared, u"T" + std::u16string(size_t(i % 32), u'x')), EPP_OK);
        // Each writer fills its own part with five items, then clears it.
        const uint32_t n = static_cast<uint32_t>(i);
        EXPECT_EQ(eppSetItem(shared, part, 1, static_cast<uint16_t>(i % 5), EPP_ITEM_NUMBER, 4, &n), EPP_OK);
        EXPECT_EQ(i % 5 == 4 ? eppClearVarPart(shared, part) : EPP_OK, EPP_OK);
      }
    });
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        Bytes area(1024);
        size_t used = 0;
        ASSERT_EQ(eppSerialize(shared, area.data(), area.size(), &used), EPP_OK);
        EppHandle back = nullptr;
        ASSERT_EQ(eppDeserialize(area.data(), used, &back), EPP_OK);
        ASSERT_EQ(eppDelete(back), EPP_OK);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(traced("ERROR")) << trace();
}

// Distinct, upper-case hexadecimal, 15th character D or E, 17th 8 to B, 19th 8 to F.
TEST(EppGuidThreads, GuidsFromManyThreadsAreDistinctAndFollowTheDigitRules) {
  std::vector<std::u16string> made[4];
  std::vector<std::thread> threads;
  for (auto& mine : made) {
    threads.emplace_back([&mine] {
      for (int i = 0; i < 500; ++i) mine.push_back(CreateGuidString());
    });
  }
  std::set<std::u16string> seen;
  for (size_t t = 0; t < 4; ++t) threads[t].join(), seen.insert(made[t].begin(), made[t].end());
  EXPECT_EQ(seen.size(), 2000u);
  for (const std::u16string& guid : seen) {
    ASSERT_EQ(guid.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos) << trcText(guid);
    ASSERT_TRUE(guid.size() == 32 && (guid[14] == u'D' || guid[14] == u'E') && guid[16] >= u'8' && guid[16] <= u'B' &&
                guid[18] >= u'8')
        << trcText(guid);
  }
}

}  // namespace
