#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "common/number_text.h"
#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

using ContextThreadsTest = ContextTest;

// One unit of work: an outer call with one nested call.
void nestedUnit(CMTContextManager& manager, const std::u16string& key, const char16_t* component) {
  const uint32_t outer = manager.startTiming(key, component, u"outer", 1);
  manager.endTiming(key, manager.startTiming(key, component, u"inner", 1));
  manager.endTiming(key, outer);
}

TEST_F(ContextThreadsTest, HostThreadsAndScanShareTheRegistry) {
  constexpr int kThreads = 4;
  constexpr int kUnits = 150;
  CMTContextManager& manager = start({{u"context_map_bucket", u"4"}});
  std::mutex sharedKeyLocks[2];  // keys shared by threads: one caller at a time
  std::atomic<bool> hostsDone{false};
  std::thread scanner([&] {
    while (!hostsDone.load()) {
      advance(10);
      manager.scanContexts(0x7FFFFFFF, 100);
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> hosts;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([&, t] {
      for (int i = 0; i < kUnits; ++i) {
        nestedUnit(manager, u"own-" + decimalText(t), u"Own");
        {
          std::lock_guard<std::mutex> guard(sharedKeyLocks[i % 2]);
          nestedUnit(manager, i % 2 == 0 ? u"shared-even" : u"shared-odd", u"Shared");
        }
        // Never timed: left for the scan to remove as empty.
        manager.initContext(u"idle-" + decimalText(t) + u"-" + decimalText(i), u"");
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  hostsDone = true;
  scanner.join();

  advance(1000);
  manager.scanContexts(0x7FFFFFFF, 100);
  EXPECT_EQ(manager.contextCount(), 0u);
  EXPECT_EQ(resource(u"Empty Context Count"), kThreads * kUnits);
  EXPECT_EQ(resource(u"Zombie Context Count"), 0);
  for (const char16_t* key : {u"Own|outer", u"Own|inner", u"Shared|outer", u"Shared|inner"}) {
    const PerfValues values = perf(key);
    EXPECT_EQ(values.finished, static_cast<uint32_t>(kThreads * kUnits)) << utf16ToUtf8Lenient(key);
    EXPECT_EQ(values.count, static_cast<uint32_t>(kThreads * kUnits));
    EXPECT_EQ(values.active, 0u);
  }
}

// Traced units of work with information, from several threads, and zombie
// traces built on the scan's thread, while the trace store is drained all
// along: every text arrives whole, exactly once.
TEST_F(ContextThreadsTest, TracesFromHostsAndScanReachTheAgentWhileTheStoreIsDrained) {
  constexpr int kThreads = 3;
  constexpr int kUnits = 100;
  CMTContextManager& manager = start({{u"trace_enabled_via_em", u"1"}, {u"cache_section_count", u"2"}});
  std::atomic<bool> draining{true};
  std::thread drainer([&] {
    while (draining.load()) CMTTraceDataManager::getInstance()->processTrace(u"test");
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
        // Left open: a zombie for the scan.
        manager.startTiming(u"left-" + decimalText(t) + u"-" + decimalText(i), u"Left", u"m", 1);
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  std::thread scanner([&] {
    advance(1000);
    manager.scanContexts(1000, 1000);
  });
  scanner.join();
  draining = false;
  drainer.join();

  size_t full = 0;
  size_t zombies = 0;
  for (const std::u16string& text : traceTexts()) {
    ASSERT_GE(text.size(), 9u);
    EXPECT_EQ(text.substr(text.size() - 9), u"</event>\n");
    EXPECT_EQ(text.find(u'\n'), text.size() - 1);
    if (traceKind(text) == kZombie) {
      ++zombies;
      continue;
    }
    ++full;
    EXPECT_NE(text.find(u"<param name=\"List\" value=\"a\" />"), std::u16string::npos);
  }
  EXPECT_EQ(full, static_cast<size_t>(kThreads * kUnits));
  EXPECT_EQ(zombies, static_cast<size_t>(kThreads * kUnits));
}

}  // namespace
