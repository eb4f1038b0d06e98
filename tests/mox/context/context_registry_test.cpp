#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mox/context/context_hash.h"
#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

using RegistryTest = ContextTest;

TEST(ContextKeyHash, SeedsWithLastUnitAndStopsAtNul) {
  EXPECT_EQ(contextKeyHash(u""), 0u);
  EXPECT_EQ(contextKeyHash(u"A"), 1090536850u);  // (0x41 * 0x01000113) ^ 0x41
  EXPECT_EQ(contextKeyHash(u"12"), 1027178551u);
  EXPECT_EQ(contextKeyHash(u"4711"), 929033348u);
  // The seed is the last unit even behind a NUL; the loop stops at the NUL.
  EXPECT_EQ(contextKeyHash(std::u16string_view(u"ab\0cd", 5)), 2037579413u);
  EXPECT_EQ(contextKeyHash(u"\xFFFF\xFFFF\xFFFF") & 0x80000000u, 0u);
}

TEST_F(RegistryTest, BucketCountFollowsConfiguration) {
  for (auto [configured, expected] : std::vector<std::pair<std::u16string, uint16_t>>{
           {u"0", 4}, {u"3", 4}, {u"4", 4}, {u"5", 8}, {u"16", 16}, {u"17", 32}}) {
    CMTContextManager::destroyInstance();
    CMTContextManager& manager = start({{u"context_map_bucket", configured}});
    EXPECT_EQ(manager.bucketCount(), expected) << utf16ToUtf8Lenient(configured);
  }
}

TEST_F(RegistryTest, KeysSharingABucketAreFoundIndependently) {
  CMTContextManager& manager = start({{u"context_map_bucket", u"16"}});
  ASSERT_EQ(manager.bucketOf(u"101"), manager.bucketOf(u"107"));
  EXPECT_EQ(manager.bucketOf(u"12"), contextKeyHash(u"12") % 16);

  EXPECT_EQ(manager.startTiming(u"101", u"C", u"m", 1), 1u);
  EXPECT_EQ(manager.startTiming(u"107", u"C", u"m", 1), 1u);
  EXPECT_EQ(manager.startTiming(u"101", u"C", u"n", 1), 2u);
  manager.endTiming(u"107", 1);  // finishes and removes 107 only
  EXPECT_FALSE(manager.findContext(u"107"));
  ContextRef still = manager.findContext(u"101");
  ASSERT_TRUE(still);
  EXPECT_EQ(still->openCalls().size(), 2u);
}

TEST_F(RegistryTest, InsertKeepsTheExistingEntry) {
  CMTContextManager& manager = start();
  EXPECT_TRUE(manager.insertContext(u"k", std::make_unique<CMTContext>(manager)));
  CMTContext* first = manager.findContext(u"k").get();
  EXPECT_FALSE(manager.insertContext(u"k", std::make_unique<CMTContext>(manager)));
  EXPECT_EQ(manager.findContext(u"k").get(), first);
  manager.removeContext(u"k");
  EXPECT_FALSE(manager.findContext(u"k"));
  EXPECT_EQ(manager.contextCount(), 0u);
}

TEST_F(RegistryTest, CoresBeforeInitDoNothing) {
  CMTContextManager* manager = CMTContextManager::getInstance();
  EXPECT_EQ(manager->startTiming(u"k", u"C", u"m", 1), 0u);
  manager->endTiming(u"k", 1);
  manager->initContext(u"k", u"");
  manager->scanContexts(0, 0);
  EXPECT_EQ(manager->contextCount(), 0u);
}

TEST_F(RegistryTest, UntimedStartStillRegistersAnEmptyContext) {
  CMTContextManager& manager = start({{u"instrument_level_threshold", u"3"}});
  EXPECT_EQ(manager.startTiming(u"k", u"C", u"m", 3), 0u);
  ContextRef context = manager.findContext(u"k");
  ASSERT_TRUE(context);
  EXPECT_EQ(context->state, CMTContext::Empty);
  context.release();
  EXPECT_EQ(manager.startTiming(u"k", u"C", u"m", 2), 1u);
  EXPECT_EQ(manager.findContext(u"k")->state, CMTContext::Active);
}

TEST_F(RegistryTest, TerminatedContextRefusesTimingUntilInitContext) {
  CMTContextManager& manager = start();
  ASSERT_EQ(manager.startTiming(u"k", u"C", u"m", 1), 1u);
  ASSERT_EQ(manager.startTiming(u"k", u"C", u"inner", 1), 2u);
  manager.terminateTimingAll(u"k");
  EXPECT_EQ(perf(u"C|m").terminated, 1u);
  EXPECT_EQ(perf(u"C|inner").terminated, 1u);
  EXPECT_EQ(perf(u"C|m").active, 0u);

  EXPECT_EQ(manager.startTiming(u"k", u"C", u"m", 1), 0u);
  EXPECT_EQ(countOf(traceLog(),
                    "Previous context object is in the terminate status and was not cleaned up by MOX_initContext API"),
            1u);
  EXPECT_NE(traceLog().find("*** ERROR => "), std::string::npos);
  // Ending and terminating are ignored while terminated; the context stays.
  manager.endTiming(u"k", 1);
  manager.terminateTiming(u"k", 1);
  EXPECT_EQ(manager.findContext(u"k")->state, CMTContext::Terminated);

  manager.initContext(u"k", u"");
  EXPECT_EQ(manager.findContext(u"k")->state, CMTContext::Empty);
  EXPECT_EQ(manager.startTiming(u"k", u"C", u"m", 1), 1u);
}

TEST_F(RegistryTest, InitContextOnActiveContextTerminatesAndReuses) {
  CMTContextManager& manager = start();
  ASSERT_EQ(manager.startTiming(u"k", u"C", u"m", 1), 1u);
  CMTContext* before = manager.findContext(u"k").get();
  advance(500);
  manager.initContext(u"k", u"guid*5");
  ContextRef context = manager.findContext(u"k");
  EXPECT_EQ(context.get(), before);
  EXPECT_EQ(context->state, CMTContext::Empty);
  EXPECT_EQ(context->passport, u"guid*5");
  EXPECT_EQ(context->nextRecId, 1u);
  EXPECT_EQ(context->root, nullptr);
  EXPECT_EQ(context->recordCount(), 0u);
  EXPECT_EQ(context->createdTick, 1500u);
  EXPECT_EQ(perf(u"C|m").terminated, 1u);
}

TEST_F(RegistryTest, SkipNamesMatchWholeComponentsOnly) {
  CMTContextManager& manager = start({{u"skip_times_in_names", u"DB,,Cache"}});
  EXPECT_TRUE(manager.isSkipped(u"DB|query"));
  EXPECT_TRUE(manager.isSkipped(u"Cache|get"));
  EXPECT_FALSE(manager.isSkipped(u"DBX|query"));
  EXPECT_FALSE(manager.isSkipped(u"App|DB|x"));
  EXPECT_FALSE(manager.isSkipped(u"DB"));
}

TEST_F(RegistryTest, ComponentThresholdsAreCopiedByInitContextOnly) {
  CMTContextManager& manager = start({{u"specific_component_names", u"Low,Trace,"},
                                      {u"specific_component_level_thresholds", u"2,,"},
                                      {u"specific_component_level_thresholds_trace", u",5,"}});
  manager.setComponentThreshold(u"Low", 3);  // set, not added twice
  manager.setComponentThreshold(u"New", 1);
  ComponentLevels copy;
  ASSERT_TRUE(manager.copyComponentThresholds(copy));
  EXPECT_EQ(copy, (ComponentLevels{{u"Low", 3}, {u"New", 1}}));

  // A context made by startTiming uses the global threshold only.
  EXPECT_EQ(manager.startTiming(u"plain", u"Low", u"m", 5), 1u);

  manager.initContext(u"opened", u"");
  EXPECT_EQ(manager.startTiming(u"opened", u"Low", u"m", 3), 0u);
  EXPECT_EQ(manager.startTiming(u"opened", u"New", u"m", 0), 1u);
  EXPECT_EQ(manager.startTiming(u"opened", u"New", u"m", 1), 0u);
  EXPECT_EQ(manager.startTiming(u"opened", u"Lower", u"m", 9), 2u);  // no prefix match: global 10
}

TEST_F(RegistryTest, TraceThresholdMapAppliesToTracedContexts) {
  CMTContextManager& manager = start({{u"trace_enabled_via_em", u"1"},
                                      {u"instrument_level_threshold", u"4"},
                                      {u"instrument_level_threshold_trace", u"8"},
                                      {u"specific_component_names", u"Hot,"},
                                      {u"specific_component_level_thresholds", u"1,"},
                                      {u"specific_component_level_thresholds_trace", u"6,"}});
  manager.initContext(u"k", u"");
  ContextRef context = manager.findContext(u"k");
  ASSERT_EQ(context->traceOn, 1u);
  context.release();
  EXPECT_NE(traceLog().find("Trace is switched on due to the trace enabling from the EM\n"), std::string::npos);

  // The trace map decides both lookups: level 5 of Hot is timed and not traceOnly.
  uint32_t hot = manager.startTiming(u"k", u"Hot", u"m", 5);
  ASSERT_EQ(hot, 1u);
  EXPECT_FALSE(manager.findContext(u"k")->openCalls().back()->traceOnly);
  EXPECT_EQ(manager.startTiming(u"k", u"Hot", u"m", 6), 0u);
  // Other components: trace default 8, metric default 4, so level 5 is traceOnly.
  uint32_t other = manager.startTiming(u"k", u"Other", u"m", 5);
  ASSERT_EQ(other, 2u);
  EXPECT_TRUE(manager.findContext(u"k")->openCalls().back()->traceOnly);
  manager.endTiming(u"k", other);
  EXPECT_EQ(perf(u"Other|m").count, 0u);
  EXPECT_EQ(perf(u"Other|m").finished, 0u);
  manager.endTiming(u"k", hot);
  EXPECT_EQ(perf(u"Hot|m").count, 1u);
}

TEST_F(RegistryTest, ScanRemovesEmptyAndZombieContextsAfterTheirTimeouts) {
  CMTContextManager& manager = start();
  manager.initContext(u"empty", u"");
  ASSERT_EQ(manager.startTiming(u"zombie", u"C", u"m", 1), 1u);
  manager.initContext(u"terminated", u"");
  manager.startTiming(u"terminated", u"C", u"m", 1);
  manager.terminateTimingAll(u"terminated");

  advance(1999);
  manager.scanContexts(3000, 2000);
  EXPECT_EQ(manager.contextCount(), 3u);

  advance(1);  // empty reaches its 2000 ms
  manager.scanContexts(3000, 2000);
  EXPECT_FALSE(manager.findContext(u"empty"));
  EXPECT_EQ(resource(u"Empty Context Count"), 1);
  EXPECT_EQ(manager.contextCount(), 2u);

  advance(1000);
  manager.scanContexts(3000, 2000);
  EXPECT_EQ(manager.contextCount(), 0u);
  EXPECT_EQ(resource(u"Zombie Context Count"), 2);
  EXPECT_EQ(traces(), (std::vector<std::string>{kZombie, kZombie}));  // whatever traceOn is
  std::string log = traceLog();
  EXPECT_EQ(countOf(log, "Empty context detected\n"), 1u);
  EXPECT_EQ(countOf(log, "Zombie context detected\n"), 2u);
}

TEST_F(RegistryTest, LookupResetsAgeAndTickWrapGivesSmallAge) {
  CMTContextManager& manager = start();
  fakeTick = TICK_WRAP_MS - 500;
  manager.initContext(u"kept", u"");
  manager.initContext(u"idle", u"");
  fakeTick = 300;  // wrapped: both are 800 ms old
  manager.scanContexts(1000, 1000);
  EXPECT_EQ(manager.contextCount(), 2u);
  for (int i = 0; i < 4; ++i) {
    advance(800);
    manager.findContext(u"kept");
    manager.scanContexts(1000, 1000);
  }
  EXPECT_EQ(manager.contextCount(), 1u);
  EXPECT_TRUE(manager.findContext(u"kept"));
  EXPECT_EQ(resource(u"Empty Context Count"), 1);
}

TEST_F(RegistryTest, ScanWaitsWhileAContextIsInUse) {
  CMTContextManager& manager = start();
  manager.initContext(u"k", u"");
  ContextRef held = manager.findContext(u"k");
  advance(10000);
  std::atomic<bool> scanned{false};
  std::thread scan([&] {
    manager.scanContexts(1, 1);
    scanned = true;
  });
  // The scan needs the bucket exclusively; the reference holds it shared.
  EXPECT_EQ(held->state, CMTContext::Empty);
  EXPECT_FALSE(scanned.load());
  held.release();
  scan.join();
  EXPECT_EQ(manager.contextCount(), 0u);
}

TEST_F(RegistryTest, ZombieTraceReachesTheTraceStore) {
  CMTContextManager& manager = start();
  manager.startTiming(u"k", u"C", u"m", 1);
  advance(5000);
  manager.scanContexts(1000, 1000);
  CMTTraceSection* section = CMTTraceDataManager::getInstance()->switchSection();
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(section->size(), 1u);
  CMTTraceDataManager::getInstance()->putBack(section);
}

}  // namespace
