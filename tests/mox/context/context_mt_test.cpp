#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "common/number_text.h"
#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

using ContextThreadsTest = ContextTest;

// Hosts time traced units of work on keys of their own and shared ones and
// leave contexts empty or open, while the scan and the trace drain run: every
// call counted, every context removed once, every trace text whole, once.
TEST_F(ContextThreadsTest, HostsScanAndTraceDrainShareTheRegistry) {
  constexpr int kThreads = 4, kUnits = 100;
  CMTContextManager& manager =
      start({{u"context_map_bucket", u"4"}, {u"trace_enabled_via_em", u"1"}, {u"trace_preview_timeout", u"100000000"}});
  std::mutex sharedKeyLocks[2];  // keys shared by threads: one caller at a time
  std::atomic<bool> hostsDone{false}, scanDone{false};
  std::thread scanner([&] {
    while (!hostsDone.load()) {
      advance(10);
      manager.scanContexts(0x7FFFFFFF, 100);
    }
    advance(1000);
    manager.scanContexts(1000, 100);  // the zombies, traced while the store is drained
    scanDone = true;
  });
  std::thread drainer([&] {
    while (!scanDone.load()) drainTraces();
  });
  std::vector<std::thread> hosts;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([&, t] {
      const std::u16string own = u"own-" + decimalText(t);
      for (int i = 0; i < kUnits; ++i) {
        const uint32_t outer = manager.startTiming(own, u"Own", u"outer", 1);
        const uint32_t inner = manager.startTiming(own, u"Own", u"inner", 1);
        manager.appendInfo(own, inner, u"Return Value", u"r" + decimalText(i), false);
        manager.endTiming(own, inner);
        manager.appendInfo(own, outer, u"List", u"a", true);
        manager.appendContextInfo(own, u"User ID", own);
        manager.endTiming(own, outer);
        {
          std::lock_guard<std::mutex> guard(sharedKeyLocks[i % 2]);
          const std::u16string shared = i % 2 == 0 ? u"shared-even" : u"shared-odd";
          manager.endTiming(shared, manager.startTiming(shared, u"Shared", u"m", 1));
        }
        const std::u16string n = decimalText(t) + u"-" + decimalText(i);
        manager.initContext(u"idle-" + n, u"");               // never timed: removed as empty
        manager.startTiming(u"left-" + n, u"Left", u"m", 1);  // left open: a zombie
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  hostsDone = true;
  scanner.join();
  drainer.join();

  constexpr uint32_t kAll = kThreads * kUnits;
  EXPECT_EQ(manager.contextCount(), 0u);
  EXPECT_EQ(resource(u"Empty Context Count"), kAll);
  EXPECT_EQ(resource(u"Zombie Context Count"), kAll);
  for (const char16_t* key : {u"Own|outer", u"Own|inner", u"Shared|m"}) {
    EXPECT_EQ(counts(key), "0/" + std::to_string(kAll) + "/0/" + std::to_string(kAll)) << utf16ToUtf8Lenient(key);
  }
  uint32_t own = 0, shared = 0, zombies = 0;
  for (const std::u16string& text : traceTexts()) {
    ASSERT_GE(text.size(), 9u);
    EXPECT_EQ(text.substr(text.size() - 9), u"</event>\n");
    EXPECT_EQ(text.find(u'\n'), text.size() - 1);
    ++(text.find(u"Timeout to zombie") != std::u16string::npos      ? zombies
       : text.find(u"\"List\" value=\"a\"") != std::u16string::npos ? own
                                                                    : shared);
  }
  EXPECT_EQ(own, kAll);
  EXPECT_EQ(shared, kAll);
  EXPECT_EQ(zombies, kAll);
}

// Threads racing for the last places of the context bound never open more
// than the bound between them, and every refusal is counted. Each thread
// ends its own units of work and then ends itself, giving back the place its
// spare context kept.
TEST_F(ContextThreadsTest, ThreadsRacingForTheLastPlacesNeverPassTheContextBound) {
  constexpr int kThreads = 4, kTries = 6, kRounds = 40;
  constexpr size_t kBound = 8;
  CMTContextManager& manager = start({{u"max_open_contexts", u"8"}, {u"context_map_bucket", u"4"}});
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int> opening{kThreads};
    std::atomic<bool> counted{false};
    std::atomic<size_t> accepted{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
      hosts.emplace_back([&, t] {
        std::vector<std::u16string> opened;
        for (int i = 0; i < kTries; ++i) {
          const std::u16string key = decimalText(round) + u"-" + decimalText(t) + u"-" + decimalText(i);
          if (manager.startTiming(key, u"C", u"m", 1) != 0) opened.push_back(key);
        }
        accepted += opened.size();
        --opening;
        while (!counted.load()) std::this_thread::yield();
        for (const std::u16string& key : opened) manager.endTiming(key, 1);
      });
    }
    while (opening.load() > 0) std::this_thread::yield();
    EXPECT_EQ(accepted.load(), kBound) << "round " << round;
    EXPECT_EQ(manager.contextCount(), accepted.load());
    counted = true;
    for (std::thread& host : hosts) host.join();
    ASSERT_EQ(manager.contextCount(), 0u);
  }
  EXPECT_EQ(resource(u"Refused Context Count"), kRounds * (kThreads * kTries - static_cast<int>(kBound)));
  EXPECT_EQ(counts(u"C|m"), "0/" + std::to_string(kRounds * kBound) + "/0/" + std::to_string(kRounds * kBound));
}

}  // namespace
