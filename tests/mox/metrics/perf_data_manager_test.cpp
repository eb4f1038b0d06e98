#include "mox/metrics/perf_data_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/agent_test_support.h"
#include "support/recording_agent.h"
#include "thr/thr_guards.h"

using namespace agenttest;

namespace {

const PerfUpdate kStarted{true};
PerfUpdate finished(int32_t elapsedMs) {
  return PerfUpdate{false, true, elapsedMs, -1, 0, -1, PerfUpdate::End::Finished};
}

// The data job's half, sending through agent as the dispatch room does.
void handOver(CPerfDataManager* manager, RecordingAgent* agent, const MetricFormat& format) {
  manager->handOverInterval(
      format, [agent] { return agent->checkConnection(); },
      [agent](std::u16string text) { agent->sendData(std::move(text)); });
}

std::vector<std::u16string> keys(CCacheSection* section) {
  std::vector<std::u16string> out;
  ThrSharedGuard read(section->perfLock);
  for (const auto& entry : section->perfRecords) out.push_back(entry.first);
  return out;
}

class PerfDataManagerTest : public ::testing::Test {
 protected:
  CPerfDataManager* start(const std::u16string& sectionCount = u"2", const std::u16string& keyBound = u"0") {
    const auto cfg = testConfiguration({{u"cache_section_count", sectionCount},
                                        {u"datasending_method", u"socket"},
                                        {u"max_timing_keys_per_interval", keyBound}});
    manager_.init(*cfg);
    return &manager_;
  }
  CPerfDataManager manager_;
  RecordingAgent agent_;
};

TEST_F(PerfDataManagerTest, SwitchCarriesRunningTimingsAndOldContentGoesWhenCurrentAgain) {
  CPerfDataManager* manager = start(u"3");
  for (const PerfUpdate& update : {kStarted, kStarted, finished(5)}) manager->updatePerfRecord(u"A|run", update);
  manager->updatePerfRecord(u"B|done", finished(7));

  CCacheSection* first = manager->switchSection();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->number, 1);
  EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"A|run", u"B|done"}));
  const PerfValues v = manager->getPerfRecord(u"A|run")->snapshot();
  EXPECT_EQ(std::tuple(v.active, v.finished, v.count, v.minElapsed), std::tuple(1u, 0u, 0u, -1));  // only running
  manager->putBack(first);

  for (uint16_t expected : std::initializer_list<uint16_t>{2, 3}) {
    EXPECT_EQ(keys(first).size(), 2u);  // still queued behind
    CCacheSection* ended = manager->switchSection();
    EXPECT_EQ(ended->number, expected);
    EXPECT_EQ(keys(ended), (std::vector<std::u16string>{u"A|run"}));  // B ended and was not timed again
    manager->putBack(ended);
  }
  // Current again: only the carried running timing is left.
  EXPECT_EQ(keys(first), (std::vector<std::u16string>{u"A|run"}));
  EXPECT_TRUE(manager->hasNoResourceRecords(first));
}

TEST_F(PerfDataManagerTest, RecordsGoOutInCodeUnitOrderAndWithoutAReceiverTheIntervalIsDropped) {
  CPerfDataManager* manager = start();
  // Updates while the interval's text goes out land in the next interval.
  agent_.onSend = [manager] { manager->updatePerfRecord(u"Late|k", finished(1)); };
  for (const char16_t* key : {u"\uFF21|m", u"\U0001F600|m", u"A|m"}) manager->updatePerfRecord(key, finished(1));
  handOver(manager, &agent_, MetricFormat());
  agent_.onSend = nullptr;
  std::u16string text;
  for (const std::u16string& part : agent_.texts()) text += part;
  EXPECT_LT(text.find(u"A|m"), text.find(u"\U0001F600|m"));  // a surrogate sorts before U+FF21
  EXPECT_LT(text.find(u"\U0001F600|m"), text.find(u"\uFF21|m"));
  EXPECT_EQ(text.find(u"Late|k"), std::u16string::npos);

  manager->handOverInterval(MetricFormat(), nullptr, nullptr);  // nobody to send to: the sections still rotate
  CCacheSection* next = manager->switchSection();
  EXPECT_EQ(next->number, 1);
  EXPECT_TRUE(keys(next).empty());  // "Late|k" went with the run without a receiver
  manager->putBack(next);
}

// The lines of one hand-over, joined, with the format's scope 1 (Active Counter shown).
std::u16string sentText(CPerfDataManager* manager, RecordingAgent& agent) {
  const size_t before = agent.count();
  handOver(manager, &agent, MetricFormat{u"S", 2, PerfMetricScope::kElapsedAndActive});
  const std::vector<std::u16string> texts = agent.texts();
  std::u16string joined;
  for (size_t i = before; i < texts.size(); ++i) joined += texts[i];
  return joined;
}

bool has(const std::u16string& text, const std::u16string& piece) { return text.find(piece) != std::u16string::npos; }

TEST_F(PerfDataManagerTest, KeysPastTheBoundAreCountedUnderOneKeyAndEachCallOnce) {
  CPerfDataManager* manager = start(u"2", u"2");
  const PerfUpdate finishedCall{false, true, 3, -1, 0, -1, PerfUpdate::End::Finished};
  EXPECT_EQ(manager->updatePerfRecord(u"A|run", kStarted), PerfTarget::Key);
  EXPECT_EQ(manager->updatePerfRecord(u"B|done", finishedCall), PerfTarget::Key);
  // A call counted as running under the overflow key ends there.
  EXPECT_EQ(manager->updatePerfRecord(u"C|late", kStarted), PerfTarget::Overflow);
  EXPECT_EQ(manager->updatePerfRecord(u"C|late", finishedCall, PerfTarget::Overflow), PerfTarget::Overflow);
  // A call with a single update (scope 0) decides at its end.
  EXPECT_EQ(manager->updatePerfRecord(u"D|late", finishedCall), PerfTarget::Overflow);
  EXPECT_EQ(manager->updatePerfRecord(u"D|late", kStarted), PerfTarget::Overflow);  // a running one

  std::u16string text = sentText(manager, agent_);
  EXPECT_TRUE(has(text, u"S|A|run:Active Counter\" value=\"1\""));
  EXPECT_TRUE(has(text, u"S|B|done:Finished Counter\" value=\"1\""));
  EXPECT_TRUE(has(text, u"S|Other Timing Keys:Active Counter\" value=\"1\""));
  EXPECT_TRUE(has(text, u"S|Other Timing Keys:Finished Counter\" value=\"2\""));
  EXPECT_TRUE(has(text, u"S|Other Timing Keys:Avg. Elapsed Time(ms)\" value=\"3\" max=\"3\" min=\"3\" count=\"2\""));
  EXPECT_TRUE(has(text, u"S|Overflow Call Count:Current Value\" value=\"3\" max=\"3\" min=\"0\" count=\"1\""));
  EXPECT_FALSE(has(text, u"|C|late") || has(text, u"|D|late"));

  // Carried: A and the overflow key's running call, which ends under it.
  manager->updatePerfRecord(u"D|late", finishedCall, PerfTarget::Overflow);
  manager->updatePerfRecord(u"A|run", finishedCall, PerfTarget::Key);
  text = sentText(manager, agent_);
  EXPECT_TRUE(has(text, u"S|Other Timing Keys:Active Counter\" value=\"0\""));
  EXPECT_TRUE(has(text, u"S|Other Timing Keys:Finished Counter\" value=\"1\""));
  EXPECT_FALSE(has(text, u"Overflow Call Count")) << "no new call overflowed";

  // An interval within the bound reads as it would without one.
  manager->updatePerfRecord(u"B|done", finishedCall);
  text = sentText(manager, agent_);
  EXPECT_TRUE(has(text, u"S|B|done:Finished Counter"));
  EXPECT_FALSE(has(text, u"Other Timing Keys") || has(text, u"Overflow Call Count"));
}

// Running timings carried in after other updates reached the new record
// leave it as carrying them in first would: every order of up to six starts
// and ends against up to three running timings, then more of both.
TEST(PerfRecordTest, LateCarryGivesWhatAnEarlyCarryGives) {
  const PerfUpdate start{true};
  const PerfUpdate end{false, false, 0, -1, 0, -1, PerfUpdate::End::Finished};
  for (uint32_t running = 0; running <= 3; ++running) {
    for (int length = 0; length <= 6; ++length) {
      for (uint32_t bits = 0; bits < (1u << length); ++bits) {
        CPerfRecord early(u"K|m", running), late(u"K|m");
        for (int i = 0; i < length; ++i) {
          const PerfUpdate& update = (bits >> i) & 1 ? start : end;
          early.apply(update);
          late.apply(update);
        }
        late.carryIn(running, false);
        ASSERT_EQ(late.active(), early.active()) << running << " carried, updates " << bits << "/" << length;
        for (const PerfUpdate* update : {&end, &start, &end, &end, &start}) {
          early.apply(*update);
          late.apply(*update);
        }
        ASSERT_EQ(late.active(), early.active()) << running << " carried, updates " << bits << "/" << length;
      }
    }
  }
}

}  // namespace
