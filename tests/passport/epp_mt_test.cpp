// One passport shared by threads, and GUIDs created by several at once.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "epp_test_support.h"

using namespace epptest;

namespace {

class EppThreads : public EppTest {
 protected:
  void SetUp() override { setLevel(1); }  // errors only: the threads write no lines unless something fails
};

TEST_F(EppThreads, SerializingWhileOthersChangeThePassportAlwaysGivesAReadableStream) {
  Passport shared;
  constexpr int kRounds = 400;
  std::vector<std::thread> threads;
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        const std::u16string id = u"T" + std::u16string(static_cast<size_t>(i % 32), u'x');
        EXPECT_EQ(setText(eppSetTransactionId, shared, id), EPP_OK);
        const uint32_t n = static_cast<uint32_t>(i);
        // Each writer fills its own part with five items, then clears it.
        const uint16_t part = static_cast<uint16_t>(w);
        EXPECT_EQ(eppSetItem(shared, part, 1, static_cast<uint16_t>(i % 5), EPP_ITEM_NUMBER, 4, &n), EPP_OK);
        if (i % 5 == 4) {
          EXPECT_EQ(eppClearVarPart(shared, part), EPP_OK);
        }
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        Bytes area(1024);
        size_t used = 0;
        ASSERT_EQ(eppSerialize(shared, area.data(), area.size(), &used), EPP_OK);
        area.resize(used);
        EppHandle back = nullptr;
        ASSERT_EQ(eppDeserialize(area.data(), area.size(), &back), EPP_OK);
        ASSERT_EQ(eppDelete(back), EPP_OK);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(traced("ERROR")) << trace();
}

TEST_F(EppThreads, GuidsFromManyThreadsAreDistinct) {
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::mutex lock;
  std::set<std::u16string> seen;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      std::vector<std::u16string> mine;
      for (int i = 0; i < kEach; ++i) mine.push_back(CreateGuidString());
      std::lock_guard<std::mutex> hold(lock);
      for (const std::u16string& g : mine) {
        EXPECT_EQ(g.size(), 32u);
        seen.insert(g);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
