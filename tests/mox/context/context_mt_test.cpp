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

}  // namespace
