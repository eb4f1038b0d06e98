#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mox/metrics/perf_data_manager.h"
#include "support/agent_test_support.h"
#include "support/recording_agent.h"
#include "thr/thr_entry_gate.h"

using namespace agenttest;

namespace {

// Sum over all texts of the numbers that follow marker.
uint64_t total(const std::vector<std::u16string>& texts, const std::u16string& marker) {
  uint64_t sum = 0;
  for (const std::u16string& text : texts) {
    for (size_t at = text.find(marker); at != std::u16string::npos; at = text.find(marker, at + 1)) {
      uint64_t value = 0;
      for (size_t i = at + marker.size(); i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10 + (text[i] - u'0');
      sum += value;
    }
  }
  return sum;
}

// The data job's half, sending as the dispatch room does.
void handOver(CPerfDataManager& store, RecordingAgent& agent, const MetricFormat& format) {
  store.handOverInterval(
      format, [&agent] { return agent.checkConnection(); },
      [&agent](std::u16string text) { agent.sendData(std::move(text)); });
}

// Three keys under a bound of two: whichever key comes third in an interval
// goes to the overflow key, and the totals over every key stay exact. The
// running counts carried across the switches come back to 0 at the end.
TEST(PerfDataManagerMtTest, UpdatesDuringRepeatedDataJobsAreAllReportedOnce) {
  const auto cfg = testConfiguration(
      {{u"cache_section_count", u"3"}, {u"datasending_method", u"socket"}, {u"max_timing_keys_per_interval", u"2"}});
  CPerfDataManager store;
  CPerfDataManager* manager = &store;
  manager->init(*cfg);
  RecordingAgent recording;
  RecordingAgent* agent = &recording;
  const auto processData = [&](const MetricFormat& format) { handOver(store, recording, format); };

  constexpr int kThreads = 4;
  constexpr int kTimings = 3000;
  const std::u16string keys[] = {u"A|one", u"B|two", u"C|three"};
  std::atomic<int> running{kThreads};
  std::atomic<int> jobs{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kTimings; ++i) {
        // Halfway, wait until some jobs have run, so updates surely overlap them.
        while (i == kTimings / 2 && jobs.load() < 3) std::this_thread::yield();
        const std::u16string& key = keys[(i + t) % 3];
        const PerfUpdate::End end = i % 3 == 0 ? PerfUpdate::End::Terminated : PerfUpdate::End::Finished;
        const PerfTarget target = manager->updatePerfRecord(key, PerfUpdate{true});
        manager->updatePerfRecord(key, PerfUpdate{false, i % 2 == 0, 2, -1, 0, -1, end}, target);
      }
      running.fetch_sub(1);
    });
  }
  const MetricFormat format{u"SYS", 2, PerfMetricScope::kElapsedAndActive};
  while (running.load() > 0) {
    processData(format);
    jobs.fetch_add(1);
  }
  for (std::thread& worker : workers) worker.join();
  const size_t sentBefore = agent->count();
  processData(format);  // the last interval

  const uint64_t timings = uint64_t{kThreads} * kTimings;
  const uint64_t terminated = uint64_t{kThreads} * ((kTimings + 2) / 3);
  const uint64_t withTimes = uint64_t{kThreads} * ((kTimings + 1) / 2);
  std::vector<std::u16string> texts = agent->texts();
  // The timing records' texts only (not the overflow count's resource line).
  const auto isResource = [](const std::u16string& text) { return text.find(u"LongCounter") != std::u16string::npos; };
  const size_t resourcesBefore =
      static_cast<size_t>(std::count_if(texts.begin(), texts.begin() + static_cast<long>(sentBefore), isResource));
  texts.erase(std::remove_if(texts.begin(), texts.end(), isResource), texts.end());
  EXPECT_EQ(total(texts, u"Finished Counter\" value=\""), timings - terminated);
  EXPECT_EQ(total(texts, u"Finished with undefined state\" value=\""), timings - withTimes);
  EXPECT_EQ(total(texts, u"\" count=\""), withTimes);
  const std::vector<std::u16string> last(texts.begin() + static_cast<long>(sentBefore - resourcesBefore), texts.end());
  EXPECT_EQ(total(last, u"Active Counter\" value=\""), 0u);
  EXPECT_GT(jobs.load(), 3);
}

// A call's memo of its performance record across data jobs: its end goes to
// the record its begin found while that section is current, and to the
// current section's record (the one the running call was carried into) once
// it was detached; never to a detached section.
TEST(PerfRecordMemoMtTest, EndsThroughTheirMemoAreCountedOnceAcrossDataJobs) {
  const auto cfg = testConfiguration({{u"cache_section_count", u"3"}, {u"datasending_method", u"socket"}});
  CPerfDataManager store;
  store.init(*cfg);
  RecordingAgent agent;
  const MetricFormat format{u"SYS", 2, PerfMetricScope::kElapsedAndActive};
  const auto dataJob = [&] { handOver(store, agent, format); };

  constexpr int kThreads = 3, kCalls = 3000;
  const std::u16string keys[] = {u"A|one", u"B|two"};
  std::atomic<int> running{kThreads};
  std::atomic<int> jobs{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        while (i == kCalls / 2 && jobs.load() < 3) std::this_thread::yield();
        const std::u16string& key = keys[(i + t) % 2];
        PerfRecordMemo memo;
        const PerfTarget target = store.updatePerfRecord(key, PerfUpdate{true}, PerfTarget::Undecided, &memo);
        if (i % 4 == 0) std::this_thread::yield();  // some ends come after a data job
        store.updatePerfRecord(key, PerfUpdate{false, true, 2, -1, 0, -1, PerfUpdate::End::Finished}, target, &memo);
      }
      running.fetch_sub(1);
    });
  }
  while (running.load() > 0) {
    dataJob();
    jobs.fetch_add(1);
  }
  for (std::thread& worker : workers) worker.join();
  const size_t sentBefore = agent.count();
  dataJob();

  const std::vector<std::u16string> texts = agent.texts();
  EXPECT_EQ(total(texts, u"Finished Counter\" value=\""), uint64_t{kThreads} * kCalls);
  EXPECT_EQ(total(texts, u"\" count=\""), uint64_t{kThreads} * kCalls);
  const std::vector<std::u16string> last(texts.begin() + static_cast<long>(sentBefore), texts.end());
  EXPECT_EQ(total(last, u"Active Counter\" value=\""), 0u);
  EXPECT_GT(jobs.load(), 3);
}

// Memos kept from call to call, as a call record keeps its key's, and calls
// going round keys with a fresh memo each, found through the index: most
// updates take a road without the section lock, and the data jobs that
// rotate meanwhile (each interval indexing the keys anew) lose, double or
// misplace none of them, whether readers fence themselves or the
// process-wide barrier serves (the gate opened).
TEST(PerfRecordMemoMtTest, KeptMemosAndIndexedLookUpsLoseNoUpdateAcrossDataJobs) {
  for (const bool gateOpen : {false, true}) {
    if (gateOpen) ThrGateOpen();
    const auto cfg = testConfiguration({{u"cache_section_count", u"3"}, {u"datasending_method", u"socket"}});
    CPerfDataManager store;
    store.init(*cfg);
    RecordingAgent agent;
    const MetricFormat format{u"SYS", 2, PerfMetricScope::kElapsedAndActive};
    constexpr int kThreads = 3, kCalls = 20000;
    std::atomic<int> running{kThreads};
    std::atomic<int> jobs{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        const std::u16string ownKey = t < 2 ? u"Shared|call" : u"Own|call";
        const std::u16string roundKeys[] = {u"Round|a", u"Round|b", u"Round|c", u"Round|d", u"Round|e"};
        PerfRecordMemo memo;
        for (int i = 0; i < kCalls; ++i) {
          while (i == kCalls / 2 && jobs.load() < 3) std::this_thread::yield();
          // Thread 1: a fresh call each time, every other one on a key of the round.
          const std::u16string& key = t == 1 && i % 2 == 1 ? roundKeys[i % 5] : ownKey;
          if (t == 1) memo = PerfRecordMemo{};
          const PerfTarget target = store.updatePerfRecord(key, PerfUpdate{true}, PerfTarget::Undecided, &memo);
          store.updatePerfRecord(key, PerfUpdate{false, true, 1, -1, 0, -1, PerfUpdate::End::Finished}, target, &memo);
        }
        running.fetch_sub(1);
      });
    }
    while (running.load() > 0) {
      handOver(store, agent, format);
      jobs.fetch_add(1);
    }
    for (std::thread& worker : workers) worker.join();
    const size_t sentBefore = agent.count();
    handOver(store, agent, format);

    const std::vector<std::u16string> texts = agent.texts();
    EXPECT_EQ(total(texts, u"Finished Counter\" value=\""), uint64_t{kThreads} * kCalls) << gateOpen;
    EXPECT_EQ(total(texts, u"\" count=\""), uint64_t{kThreads} * kCalls) << gateOpen;
    const std::vector<std::u16string> last(texts.begin() + static_cast<long>(sentBefore), texts.end());
    EXPECT_EQ(total(last, u"Active Counter\" value=\""), 0u) << gateOpen;
    EXPECT_GT(jobs.load(), 3);
    if (gateOpen) ThrGateCloseAndDrain();
  }
}

}  // namespace
