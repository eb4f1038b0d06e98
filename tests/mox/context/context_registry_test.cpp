#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mox/context/context_hash.h"
#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

using RegistryTest = ContextTest;

TEST_F(RegistryTest, KeysSharingABucketStayApart) {
  EXPECT_EQ(contextKeyHash(u"\xFFFF\xFFFF\xFFFF") & 0x80000000u, 0u);  // never negative as an index

  CMTContextManager& manager = start({{u"context_map_bucket", u"16"}});
  ASSERT_EQ(manager.bucketOf(u"101"), manager.bucketOf(u"107"));
  EXPECT_EQ(manager.startTiming(u"101", u"C", u"m", 1), 1u);
  EXPECT_EQ(manager.startTiming(u"107", u"C", u"m", 1), 1u);
  EXPECT_EQ(manager.startTiming(u"101", u"C", u"n", 1), 2u);
  manager.endTiming(u"107", 1);  // finishes and removes 107 only
  EXPECT_FALSE(manager.findContext(u"107"));
  ASSERT_TRUE(manager.findContext(u"101"));
  EXPECT_EQ(manager.findContext(u"101")->openCalls().size(), 2u);
}

TEST_F(RegistryTest, InitContextStartsAfreshAndTerminatesOpenCallsWhateverTheState) {
  CMTContextManager& manager = start();
  manager.startTiming(u"k", u"C", u"m", 1);
  manager.terminateTimingAll(u"k");
  EXPECT_EQ(counts(u"C|m"), "0/0/1/0");
  manager.initContext(u"k", u"");
  EXPECT_EQ(manager.startTiming(u"k", u"C", u"m", 1), 1u);
  manager.initContext(u"k", u"guid*5");
  ContextRef context = manager.findContext(u"k");
  EXPECT_EQ(context->state, CMTContext::Empty);
  EXPECT_EQ(context->passport, u"guid*5");
  EXPECT_EQ(context->recordCount(), 0u);
  EXPECT_EQ(perf(u"C|m").terminated, 2u);
}

TEST_F(RegistryTest, TraceThresholdMapAppliesToTracedContexts) {
  CMTContextManager& manager = start({{u"trace_enabled_via_em", u"1"},
                                      {u"instrument_level_threshold", u"4"},
                                      {u"instrument_level_threshold_trace", u"8"},
                                      {u"specific_component_names", u"Hot,"},
                                      {u"specific_component_level_thresholds", u"1,"},
                                      {u"specific_component_level_thresholds_trace", u"6,"}});
  manager.initContext(u"k", u"");
  // Hot: the trace map's 6 decides, level 5 is timed and counted. Other: trace
  // default 8 times it, metric default 4 leaves it out of the metrics.
  EXPECT_EQ(manager.startTiming(u"k", u"Hot", u"m", 6), 0u);
  const uint32_t hot = manager.startTiming(u"k", u"Hot", u"m", 5);
  const uint32_t other = manager.startTiming(u"k", u"Other", u"m", 5);
  ASSERT_EQ(std::pair(hot, other), std::pair(1u, 2u));
  manager.endTiming(u"k", other);
  manager.endTiming(u"k", hot);
  EXPECT_EQ(counts(u"Other|m"), "0/0/0/0");
  EXPECT_EQ(counts(u"Hot|m"), "0/1/0/1");
}

TEST_F(RegistryTest, ScanRemovesEmptyAndZombieContextsAfterTheirTimeoutsAcrossTheTickWrapAndWaitsForOnesInUse) {
  CMTContextManager& manager = start();
  fakeTick = TICK_WRAP_MS - 1000;
  manager.initContext(u"empty", u"");
  manager.initContext(u"kept", u"");  // looked up before each scan: its age starts again
  ASSERT_EQ(manager.startTiming(u"zombie", u"C", u"m", 1), 1u);
  manager.startTiming(u"terminated", u"C", u"m", 1);
  manager.terminateTimingAll(u"terminated");
  auto scanAfter = [&](uint32_t ms) {
    advance(ms);
    manager.findContext(u"kept");
    manager.scanContexts(3000, 2000);
  };
  scanAfter(1999);  // across the wrap: ages stay small
  EXPECT_EQ(manager.contextCount(), 4u);
  scanAfter(1);  // empty reaches its 2000 ms
  EXPECT_EQ(manager.contextCount(), 3u);
  EXPECT_EQ(resource(u"Empty Context Count"), 1);
  scanAfter(1000);
  EXPECT_EQ(manager.contextCount(), 1u);
  EXPECT_EQ(resource(u"Zombie Context Count"), 2);
  EXPECT_EQ(traceTexts().size(), 2u);  // zombie traces, whatever traceOn is

  // A context in use holds its bucket shared: the scan waits for it.
  ContextRef held = manager.findContext(u"kept");
  advance(10000);
  std::atomic<bool> scanned{false};
  std::thread scan([&] {
    manager.scanContexts(3000, 2000);
    scanned = true;
  });
  EXPECT_EQ(held->state, CMTContext::Empty);
  EXPECT_FALSE(scanned.load());
  held.release();
  scan.join();
  EXPECT_EQ(manager.contextCount(), 0u);
}

// The context a thread found last is remembered; a removal (scan, end of the
// unit of work, new manager) must never let it reach the old object again.
TEST_F(RegistryTest, RememberedLookUpNeverOutlivesARemoval) {
  CMTContextManager& manager = start();
  manager.startTiming(u"k", u"C", u"m", 1);
  ASSERT_TRUE(manager.findContext(u"k"));
  advance(10000);
  manager.scanContexts(1, 1);  // a zombie now
  EXPECT_FALSE(manager.findContext(u"k"));
  manager.initContext(u"k", u"");
  EXPECT_EQ(manager.findContext(u"k")->state, CMTContext::Empty);
  manager.startTiming(u"k", u"C", u"m", 1);
  manager.endTiming(u"k", 1);  // finished and removed
  EXPECT_FALSE(manager.findContext(u"k"));
  manager.initContext(u"k", u"");
  EXPECT_TRUE(manager.findContext(u"k"));
  CMTContextManager& fresh = start();  // a new manager, maybe at the same address
  EXPECT_FALSE(fresh.findContext(u"k"));
}

// Past the bound new units of work are refused before any call is counted;
// open ones go on, and every way a context leaves gives its place back.
TEST_F(RegistryTest, ContextBoundRefusesOnlyNewContextsAndCountsEachRefusal) {
  CMTContextManager& manager = start({{u"max_open_contexts", u"2"}});
  ASSERT_EQ(manager.startTiming(u"open", u"C", u"m", 1), 1u);
  manager.initContext(u"empty", u"");
  EXPECT_EQ(manager.startTiming(u"third", u"C", u"m", 1), 0u);
  manager.initContext(u"fourth", u"");
  EXPECT_FALSE(manager.findContext(u"third") || manager.findContext(u"fourth"));
  EXPECT_EQ(counts(u"C|m"), "1/0/0/0");
  EXPECT_EQ(resource(u"Refused Context Count"), 2);

  EXPECT_EQ(manager.startTiming(u"open", u"C", u"n", 1), 2u);
  manager.initContext(u"empty", u"guid*5");  // registered already: not a new one
  EXPECT_EQ(manager.startTiming(u"empty", u"C", u"m", 1), 1u);
  manager.endTiming(u"empty", 1);  // finished: its place is free
  EXPECT_EQ(manager.startTiming(u"third", u"C", u"m", 1), 1u);
  advance(10000);
  manager.scanContexts(1, 1);  // both zombies now
  manager.initContext(u"fourth", u"");
  EXPECT_EQ(manager.startTiming(u"fifth", u"C", u"m", 1), 1u);
  EXPECT_EQ(manager.contextCount(), 2u);
  EXPECT_EQ(resource(u"Refused Context Count"), 2);
  EXPECT_EQ(countOf(traceLog(), "max_open_contexts reached (2 contexts)"), 1u);
}

}  // namespace
