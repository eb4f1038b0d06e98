// Threads keep their own contexts registered between units of work and end,
// while the scan runs: their kept contexts are left to the registry, which
// removes them uncounted and gives their places to new threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/number_text.h"
#include "mox/context/context_test_support.h"
#include "support/child_process.h"

using namespace ctxtest;

namespace {

using KeptContextThreadsTest = ContextTest;

TEST_F(KeptContextThreadsTest, EndedThreadsGiveTheirKeptContextsPlacesToNewThreads) {
  constexpr int kThreads = 4, kUnits = 3, kRounds = 20;
  CMTContextManager& manager = start({{u"max_open_contexts", u"4"}, {u"context_map_bucket", u"4"}});
  std::atomic<bool> hostsDone{false};
  std::atomic<int> refused{0};
  std::thread scanner([&] {
    while (!hostsDone.load()) manager.scanContexts(0x7FFFFFFF, 0x7FFFFFFF);
  });
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
      hosts.emplace_back([&, t] {
        const std::u16string own = decimalText(round) + u"-" + decimalText(t);
        for (int i = 0; i < kUnits; ++i) {
          const uint32_t recId = manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread);
          refused += recId == 0;
          manager.endTiming(own, recId, KeyOwner::Thread);
        }
      });
    }
    for (std::thread& host : hosts) host.join();
  }
  hostsDone = true;
  scanner.join();
  manager.scanContexts(0x7FFFFFFF, 0x7FFFFFFF);

  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(manager.contextCount(), 0u);
  EXPECT_EQ(resource(u"Refused Context Count"), 0);
  EXPECT_EQ(resource(u"Empty Context Count"), 0);
  EXPECT_EQ(resource(u"Zombie Context Count"), 0);
  constexpr int kAll = kRounds * kThreads * kUnits;
  EXPECT_EQ(counts(u"C|m"), "0/" + std::to_string(kAll) + "/0/" + std::to_string(kAll));
}

// Threads claim and leave their kept contexts while a scan with a zombie
// time-out of 0 takes out every context it may: every call started is either
// finished or left running in a context removed as a zombie, never lost in
// between.
TEST_F(KeptContextThreadsTest, ScanTakingOutEveryContextItMayNeverLosesACall) {
  constexpr int kThreads = 2, kUnits = 2000;
  CMTContextManager& manager = start({{u"context_map_bucket", u"4"}});
  std::atomic<bool> hostsDone{false};
  std::atomic<uint32_t> started{0};
  std::thread scanner([&] {
    while (!hostsDone.load()) {
      manager.scanContexts(0, 0x7FFFFFFF);
      drainTraces();
    }
  });
  std::vector<std::thread> hosts;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([&, t] {
      const std::u16string own = u"thread-" + decimalText(t);
      for (int i = 0; i < kUnits; ++i) {
        const uint32_t outer = manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread);
        const uint32_t inner = manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread);
        started += (outer != 0) + (inner != 0);
        manager.endTiming(own, inner, KeyOwner::Thread);
        manager.endTiming(own, outer, KeyOwner::Thread);
      }
    });
  }
  for (std::thread& host : hosts) host.join();
  hostsDone = true;
  scanner.join();

  EXPECT_EQ(started.load(), 2u * kThreads * kUnits);
  const PerfValues v = perf(u"C|m");
  EXPECT_EQ(v.active + v.finished, started.load());
  EXPECT_EQ(v.terminated, 0u);
}

// Another thread uses a thread's key (a host's session-id function may name
// it) while the thread runs units of work on its own context, which it takes
// without the bucket lock: the other thread sees the context only between
// the calls of a unit, never in the middle of one, and every call ends once.
// (A context's first unit of work, before its thread keeps it, is its key's
// user's alone, as any host key's is.)
TEST_F(KeptContextThreadsTest, AnotherUserOfTheThreadsKeyNeverSeesItsContextMidCall) {
  constexpr int kUnits = 3000;
  CMTContextManager& manager = start({{u"context_map_bucket", u"4"}});
  const std::u16string own = u"thread-own";
  std::atomic<bool> ownerDone{false};
  std::atomic<int> seen{0};
  std::atomic<int> seenMidCall{0};
  manager.endTiming(own, manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread), KeyOwner::Thread);
  std::thread other([&] {
    while (!ownerDone.load()) {
      manager.appendContextInfo(own, u"peer", u"x");
      if (ContextRef context = manager.findContext(own)) {
        ++seen;
        const size_t open = context->openCalls().size();
        seenMidCall += context->state != CMTContext::Active || open == 0 || open > 2;
      }
      manager.scanContexts(0x7FFFFFFF, 0x7FFFFFFF);
    }
  });
  // This thread's context, kept by the unit above, serves every unit.
  for (int i = 0; i < kUnits; ++i) {
    const uint32_t outer = manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread);
    manager.appendContextInfo(own, u"own", u"y");
    const uint32_t inner = manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread);
    manager.endTiming(own, inner, KeyOwner::Thread);
    manager.endTiming(own, outer, KeyOwner::Thread);
  }
  ownerDone = true;
  other.join();

  EXPECT_EQ(seenMidCall.load(), 0);
  const std::string calls = std::to_string(2 * kUnits + 1);
  EXPECT_EQ(counts(u"C|m"), "0/" + calls + "/0/" + calls);
  EXPECT_EQ(manager.contextCount(), 0u);
  RecordProperty("seen", seen.load());
}

// A forked child's thread leaves behind the context it kept in the parent's
// registry, whose mark a thread that did not follow held at the fork: its
// units of work in the child's own registry do not wait for that thread.
TEST_F(KeptContextThreadsTest, ForkedChildDoesNotWaitForAMarkHeldByAThreadThatStayedBehind) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a multi-threaded fork";
#endif
  CMTContextManager& manager = start();
  const std::u16string own = u"thread-own";
  manager.endTiming(own, manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread), KeyOwner::Thread);
  const uint32_t open = manager.startTiming(own, u"C", u"m", 1, KeyOwner::Thread);
  std::atomic<bool> held{false}, release{false};
  std::thread other([&] {
    ContextRef context = manager.findContext(own);
    held = static_cast<bool>(context);
    while (!release.load()) std::this_thread::yield();
  });
  while (!held.load()) std::this_thread::yield();
  const testsupport::ChildEnd end = testsupport::runInChild(
      [&] {
        // The registry of a library initialised anew in the child.
        CMTContextManager fresh;
        fresh.init(*config_, identity_, *metrics_, *traceStore_);
        for (int unit = 0; unit < 2; ++unit) {
          fresh.endTiming(own, fresh.startTiming(own, u"C", u"m", 1, KeyOwner::Thread), KeyOwner::Thread);
        }
        return 0;
      },
      std::chrono::seconds(10));
  release = true;
  other.join();
  manager.endTiming(own, open, KeyOwner::Thread);
  EXPECT_TRUE(end.succeeded()) << end.describe();
}

}  // namespace
