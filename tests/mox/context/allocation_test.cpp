// A thread's units of work one after another reuse what the previous one
// left (map node, context, call records, timing key): in steady state the
// timing cores allocate nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "mox/context/context_test_support.h"

namespace {

// Counts this thread's allocations while armed; the other threads of the
// test program are left alone.
thread_local bool countingAllocations = false;
thread_local size_t allocationsSeen = 0;

}  // namespace

// Out of line: inlined next to a new-expression, the free() here looks to the
// compiler like a mismatch with the operator new it sees.
__attribute__((noinline)) void* operator new(size_t size) {
  if (countingAllocations) ++allocationsSeen;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* block) noexcept { std::free(block); }
__attribute__((noinline)) void operator delete(void* block, size_t) noexcept { std::free(block); }

using namespace ctxtest;

namespace {

using AllocationTest = ContextTest;

// Allocations of body on this thread.
template <typename Body>
size_t allocationsOf(Body body) {
  allocationsSeen = 0;
  countingAllocations = true;
  body();
  countingAllocations = false;
  return allocationsSeen;
}

void flatUnit(CMTContextManager& manager, const std::u16string& key) {
  manager.endTiming(key, manager.startTiming(key, u"C", u"flat", 1));
}

void nestedUnit(CMTContextManager& manager, const std::u16string& key) {
  const uint32_t outer = manager.startTiming(key, u"C", u"outer", 1);
  const uint32_t inner = manager.startTiming(key, u"C", u"inner", 1);
  manager.endTiming(key, inner);
  manager.endTiming(key, outer);
}

TEST_F(AllocationTest, UnitsOfWorkAfterTheFirstAllocateNothing) {
  CMTContextManager& manager = start();
  const std::u16string keys[] = {u"session-01", u"session-02", u"session-03"};
  // The first units create the records of the metrics and the thread's spare.
  for (const std::u16string& key : keys) {
    flatUnit(manager, key);
    nestedUnit(manager, key);
  }
  EXPECT_EQ(allocationsOf([&] { flatUnit(manager, keys[0]); }), 0u);
  EXPECT_EQ(allocationsOf([&] { nestedUnit(manager, keys[0]); }), 0u);
  // Another key of no greater length lands in the same node.
  EXPECT_EQ(allocationsOf([&] {
              for (const std::u16string& key : keys) flatUnit(manager, key);
            }),
            0u);
  EXPECT_EQ(counts(u"C|flat"), "0/" + std::to_string(3 + 1 + 3) + "/0/" + std::to_string(3 + 1 + 3));
}

TEST_F(AllocationTest, ThreadsOwnUnitsOfWorkAfterTheFirstAllocateNothing) {
  CMTContextManager& manager = start();
  const std::u16string key = u"thread-7";
  const auto ownUnit = [&] {
    manager.endTiming(key, manager.startTiming(key, u"C", u"own", 1, KeyOwner::Thread), KeyOwner::Thread);
  };
  // The first unit makes the context, its mark and the key's record; the second, the first to claim
  // the kept context back, warms what that path keeps per thread (when this test runs alone).
  ownUnit();
  ownUnit();
  EXPECT_EQ(allocationsOf([&] {
              for (int i = 0; i < 3; ++i) ownUnit();
            }),
            0u);
  EXPECT_EQ(counts(u"C|own"), "0/5/0/5");
}

// A traced unit of three nested calls with information: its records, their
// information, the trace's buffer and the store's block are all reused.
TEST_F(AllocationTest, TracedUnitsAfterTheFirstAllocateNothing) {
  // One wall-clock second throughout: the root's start-time text is made
  // once per second.
  struct FixedWallClock {
    FixedWallClock() { setClockReaders(read, nullptr); }
    ~FixedWallClock() { setClockReaders(nullptr, nullptr); }
    static bool read(timespec* now) {
      now->tv_sec = 1700000000;
      now->tv_nsec = 0;
      return true;
    }
  } fixedWallClock;
  CMTContextManager& manager = start({{u"trace_enabled_via_em", u"1"}});
  const std::u16string key = u"traced";
  const auto tracedUnit = [&] {
    uint32_t ids[3];
    const char16_t* components[] = {u"Order", u"Pricing", u"Db"};
    for (int i = 0; i < 3; ++i) {
      ids[i] = manager.startTiming(key, components[i], u"m", 1);
      manager.appendInfo(key, ids[i], u"Method Call Parameter id", u"a value longer than a short string", false);
      manager.appendInfo(key, ids[i], u"Return Value", u"ok", false);
    }
    for (int i = 2; i >= 0; --i) manager.endTiming(key, ids[i]);
  };
  // Two turns of the store's ring (four sections), each section taking two
  // units' traces: every section then keeps a block and room for the list
  // of two texts.
  for (int i = 0; i < 8; ++i) {
    tracedUnit();
    tracedUnit();
    drainTraces();
  }
  tracedUnit();
  EXPECT_EQ(allocationsOf([&] { tracedUnit(); }), 0u);
  EXPECT_EQ(traceTexts().size(), 18u);
}

TEST_F(AllocationTest, ReusedNodeCarriesTheNewKeyAndAFreshContext) {
  CMTContextManager& manager = start();
  const uint32_t recId = manager.startTiming(u"first", u"C", u"m", 1);
  manager.findContext(u"first")->appendContextInfo(u"left", u"over");
  manager.endTiming(u"first", recId);
  ASSERT_FALSE(manager.findContext(u"first"));

  // A longer key than the node held, then a shorter one.
  for (const std::u16string key : {u"a-much-longer-session-key", u"s"}) {
    EXPECT_EQ(manager.startTiming(key, u"C", u"m", 1), 1u);
    ContextRef context = manager.findContext(key);
    ASSERT_TRUE(context);
    EXPECT_TRUE(context->contextInfo.empty());
    EXPECT_EQ(context->openCalls().size(), 1u);
    context.release();
    EXPECT_EQ(manager.contextCount(), 1u);
    manager.endTiming(key, 1);
    EXPECT_EQ(manager.contextCount(), 0u);
  }
}

}  // namespace
