// Producers add texts and trace records while the store hands its sections over: every text arrives once, whole, and
// each producer's texts in the order added, though the sections' blocks are reused round after round.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/number_text.h"
#include "mox/trace/trace_data_manager.h"
#include "mox/trace/trace_record.h"
#include "mox/trace/trace_text_arena.h"
#include "support/test_config.h"
#include "thr/thr.h"

namespace {

constexpr int kProducers = 3;
constexpr int kTextsEach = 400;

// What a store of two sections hands over while kProducers threads each call add(store, producer, i) for i below
// kTextsEach, and after they end.
template <typename Add>
std::vector<std::u16string> takenWhileProducersAdd(Add add) {
  if (!ThrIsInitialised()) ThrInit();
  CMTTraceDataManager store;
  store.init(*testConfiguration({{u"cache_section_count", u"2"}}));
  std::vector<std::u16string> received;
  std::atomic<int> running{kProducers};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&store, &running, &add, p] {
      for (int i = 0; i < kTextsEach; ++i) add(store, p, i);
      running.fetch_sub(1);
    });
  }
  const auto take = [&] {
    store.handOverTexts([&](const TraceTexts& texts) { received.insert(received.end(), texts.begin(), texts.end()); });
  };
  while (running.load() > 0) take();
  for (std::thread& producer : producers) producer.join();
  take();
  return received;
}

// Producer p's text number i: its sizes span small texts, texts that cross a block's end and, now and then, one larger
// than a block.
std::u16string textOf(int p, int i) {
  const size_t size = i % 97 == 0 ? TraceTextArena::kBlockUnits + 10 : 1 + static_cast<size_t>(i * 37 % 3000);
  std::u16string text(size, static_cast<char16_t>(u'a' + p));
  text += u"#" + std::u16string(1, static_cast<char16_t>(u'0' + p));
  text += std::u16string(1, static_cast<char16_t>(0x4E00 + i));
  return text;
}

TEST(TraceStoreMtTest, TextsArriveWholeOnceAndInOrderWhileSectionsTurn) {
  const std::vector<std::u16string> received =
      takenWhileProducersAdd([](CMTTraceDataManager& store, int p, int i) { store.addTrace(textOf(p, i)); });
  std::map<int, std::vector<std::u16string>> byProducer;
  for (const std::u16string& text : received) {
    ASSERT_GE(text.size(), 3u);
    byProducer[text[text.size() - 2] - u'0'].push_back(text);
  }
  for (int p = 0; p < kProducers; ++p) {
    std::vector<std::u16string> expected;
    for (int i = 0; i < kTextsEach; ++i) expected.push_back(textOf(p, i));
    EXPECT_TRUE(byProducer[p] == expected) << "producer " << p;
  }
}

std::u16string decimal(int64_t value) {
  std::u16string text;
  appendDecimal(text, value);
  return text;
}

// Producer p's record number i, a call with host text to escape, and the text it must become.
std::u16string recordOf(int p, int i) {
  std::u16string record;
  TraceRecordWriter writer(record);
  const std::u16string value(static_cast<size_t>(i * 53 % 5000), u'<');
  writer.calledComponent(u"P" + std::u16string(1, static_cast<char16_t>(u'0' + p)) + u"&m", i, -i);
  writer.cpuTime(int64_t{1} << 40 | i);
  writer.param(u"v\xD83D\xDE00", value);
  writer.endCalledComponent();
  return record;
}

std::u16string expectedTextOf(int p, int i) {
  std::u16string lt;
  for (int n = 0; n < i * 53 % 5000; ++n) lt += u"&lt;";
  return u"<calledComponent resource=\"P" + std::u16string(1, static_cast<char16_t>(u'0' + p)) + u"&amp;m\" offset=\"" +
         decimal(i) + u"\" duration=\"" + decimal(-i) + u"\"><param name=\"CPU Time (us)\" value=\"" +
         decimal((int64_t{1} << 40) | i) + u"\" /><param name=\"v\xD83D\xDE00\" value=\"" + lt +
         u"\" /></calledComponent>";
}

// The texts of records are made on the taking thread while producers go on adding: each record's text arrives once,
// whole and in its producer's order.
TEST(TraceStoreMtTest, RecordsBecomeTheirTextsOnTheTakingThreadWhileProducersAdd) {
  const std::vector<std::u16string> received =
      takenWhileProducersAdd([](CMTTraceDataManager& store, int p, int i) { store.addRecord(recordOf(p, i)); });
  std::map<int, std::vector<std::u16string>> byProducer;
  for (const std::u16string& text : received) {
    const size_t at = text.find(u"resource=\"P");
    ASSERT_NE(at, std::u16string::npos);
    byProducer[text[at + 11] - u'0'].push_back(text);
  }
  for (int p = 0; p < kProducers; ++p) {
    std::vector<std::u16string> expected;
    for (int i = 0; i < kTextsEach; ++i) expected.push_back(expectedTextOf(p, i));
    EXPECT_TRUE(byProducer[p] == expected) << "producer " << p;
  }
}

}  // namespace
