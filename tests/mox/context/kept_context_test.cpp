// A thread's own context stays registered between its units of work, idle:
// to everybody else it is not registered, and it gives way when its key or
// its place is needed.
#include <gtest/gtest.h>

#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

using KeptContextTest = ContextTest;

uint32_t ownStart(CMTContextManager& manager, const std::u16string& key) {
  return manager.startTiming(key, u"C", u"m", 1, KeyOwner::Thread);
}

void ownUnit(CMTContextManager& manager, const std::u16string& key) {
  manager.endTiming(key, ownStart(manager, key), KeyOwner::Thread);
}

TEST_F(KeptContextTest, IdleKeptContextIsNotRegisteredAndServesTheNextUnitFresh) {
  CMTContextManager& manager = start();
  const uint32_t first = ownStart(manager, u"t1");
  const CMTContext* used = manager.findContext(u"t1").get();
  manager.appendContextInfo(u"t1", u"left", u"over");
  manager.endTiming(u"t1", first, KeyOwner::Thread);

  EXPECT_EQ(manager.contextCount(), 0u);
  EXPECT_FALSE(manager.findContext(u"t1"));
  manager.appendContextInfo(u"t1", u"dropped", u"x");  // no unit of work open: nowhere to go
  manager.terminateTimingAll(u"t1");
  manager.endTiming(u"t1", first, KeyOwner::Thread);  // a stale end changes nothing

  EXPECT_EQ(ownStart(manager, u"t1"), 1u);
  ContextRef context = manager.findContext(u"t1");
  ASSERT_TRUE(context);
  EXPECT_EQ(context.get(), used) << "the kept context serves the next unit";
  EXPECT_TRUE(context->contextInfo.empty());
  EXPECT_EQ(context->openCalls().size(), 1u);
  EXPECT_EQ(context->state, CMTContext::Active);
  context.release();
  manager.endTiming(u"t1", 1, KeyOwner::Thread);
  EXPECT_EQ(counts(u"C|m"), "0/2/0/2");
}

TEST_F(KeptContextTest, ScanLeavesTheIdleContextOfALiveThreadUncounted) {
  CMTContextManager& manager = start();
  ownUnit(manager, u"t1");
  advance(1000000);
  manager.scanContexts(1, 1);
  ownUnit(manager, u"t1");
  EXPECT_EQ(resource(u"Empty Context Count"), 0);
  EXPECT_EQ(resource(u"Zombie Context Count"), 0);
  EXPECT_EQ(counts(u"C|m"), "0/2/0/2");
}

TEST_F(KeptContextTest, KeptContextGivesWayToAContextOpenedUnderItsKey) {
  CMTContextManager& manager = start();
  ownUnit(manager, u"k");
  manager.initContext(u"k", u"passport-1");
  {
    ContextRef opened = manager.findContext(u"k");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->state, CMTContext::Empty);
    EXPECT_EQ(opened->passport, u"passport-1");
  }
  EXPECT_EQ(manager.contextCount(), 1u);
  manager.terminateTimingAll(u"k");  // leaves it terminated until the next initContext
  manager.initContext(u"k", u"");

  // A host's session key equal to a thread's key: the host gets a context of its own.
  ownUnit(manager, u"h");
  EXPECT_EQ(manager.startTiming(u"h", u"C", u"host", 1), 1u);
  EXPECT_EQ(manager.contextCount(), 2u);
  manager.endTiming(u"h", 1);
  EXPECT_EQ(manager.contextCount(), 1u);
  ownUnit(manager, u"h");
  EXPECT_EQ(counts(u"C|m"), "0/3/0/3");
  EXPECT_EQ(counts(u"C|host"), "0/1/0/1");
}

// A thread's own context is taken by its thread for each call, without the
// bucket lock: the scan leaves it alone meanwhile and judges it once the call
// is over; a second reference of the same thread finds nothing to take.
TEST_F(KeptContextTest, ScanWaitsUntilTheThreadsCallIsOverToTakeItsContextOut) {
  CMTContextManager& manager = start();
  ownUnit(manager, u"t");
  EXPECT_EQ(ownStart(manager, u"t"), 1u);
  advance(1000000);
  {
    ContextRef inCall = manager.findContext(u"t");
    ASSERT_TRUE(inCall);
    EXPECT_FALSE(manager.findContext(u"t")) << "taken already, by this thread";
    manager.scanContexts(1, 1);
    EXPECT_EQ(resource(u"Zombie Context Count"), 0);
    EXPECT_EQ(inCall->openCalls().size(), 1u);
  }
  advance(1000000);  // the look-ups refreshed its age
  manager.scanContexts(1, 1);
  EXPECT_EQ(resource(u"Zombie Context Count"), 1);
  EXPECT_EQ(manager.contextCount(), 0u);
  EXPECT_EQ(traceTexts().size(), 1u) << "the zombie's trace";

  // The thread finds its context gone and opens a new one.
  EXPECT_EQ(ownStart(manager, u"t"), 1u);
  manager.endTiming(u"t", 1, KeyOwner::Thread);
  EXPECT_EQ(counts(u"C|m"), "1/2/0/2") << "the zombie's call stays counted as running";
}

// The kept context holds the place its thread's spare held, and at the bound
// serves a unit of work of another key as the spare did.
TEST_F(KeptContextTest, AtTheBoundTheKeptContextsPlaceServesAnotherKey) {
  CMTContextManager& manager = start({{u"max_open_contexts", u"2"}});
  ownUnit(manager, u"t");
  EXPECT_NE(manager.startTiming(u"s1", u"C", u"m", 1), 0u);
  EXPECT_NE(manager.startTiming(u"s2", u"C", u"m", 1), 0u) << "takes the kept context's place";
  EXPECT_EQ(manager.startTiming(u"s3", u"C", u"m", 1), 0u);
  EXPECT_EQ(ownStart(manager, u"t"), 0u) << "its place is taken now";
  EXPECT_EQ(resource(u"Refused Context Count"), 2);
  manager.endTiming(u"s1", 1);  // becomes the spare, with its place
  EXPECT_EQ(ownStart(manager, u"t"), 1u);
  EXPECT_EQ(manager.contextCount(), 2u);
}

}  // namespace
