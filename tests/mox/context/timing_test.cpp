#include <gtest/gtest.h>

#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

class TimingTest : public ContextTest {
 protected:
  // A context outside the registry, so that its records outlive the end of
  // the unit of work.
  std::unique_ptr<CMTContext> context(const Pairs& pairs = {}) {
    CMTContextManager& manager = start(pairs);
    return std::make_unique<CMTContext>(manager);
  }
  static CMTCallRecord& call(CMTContext& context, size_t depth) { return *context.openCalls().at(depth); }
};

TEST_F(TimingTest, NestedCallsGiveNetTimesOffsetAndTree) {
  auto ctx = context({{u"perf_metric_scope", u"4"}});
  ASSERT_EQ(ctx->startTiming(u"A|a", 1), 1u);
  CMTCallRecord& a = call(*ctx, 0);
  advance(100);
  ASSERT_EQ(ctx->startTiming(u"B|b", 1), 2u);
  CMTCallRecord& b = call(*ctx, 1);
  advance(30);
  ctx->endTiming(2);
  advance(20);
  ctx->endTiming(1);

  EXPECT_EQ(ctx->state, CMTContext::Finished);
  EXPECT_EQ(ctx->root, &a);
  EXPECT_EQ(a.children, std::vector<CMTCallRecord*>{&b});
  EXPECT_EQ(b.parent, &a);
  EXPECT_EQ(b.offsetMs, 100u);
  EXPECT_EQ(a.elapsedMs, 150);
  EXPECT_EQ(b.elapsedMs, 30);
  EXPECT_EQ(a.netElapsedMs, 120);
  EXPECT_EQ(b.netElapsedMs, 30);
  ASSERT_GE(a.cpuUs, 0);
  ASSERT_GE(b.cpuUs, 0);
  EXPECT_EQ(a.netCpuUs, a.cpuUs - b.cpuUs);
  EXPECT_EQ(a.status, CMTCallRecord::Ended);
  EXPECT_EQ(ctx->traceSize, 2u * (3 + 100));
  EXPECT_EQ(a.startTime().size(), 19u);  // agent_type 0: no milliseconds
  EXPECT_TRUE(b.startTime().empty());

  PerfValues perfA = perf(u"A|a");
  EXPECT_EQ(perfA.count, 1u);
  EXPECT_EQ(perfA.finished, 1u);
  EXPECT_EQ(perfA.active, 0u);
  EXPECT_EQ(perfA.sumElapsed, 150);
  EXPECT_EQ(perfA.sumNetElapsed, 120);
  EXPECT_EQ(perfA.sumCpu, a.cpuUs);
}

TEST_F(TimingTest, ScopeDecidesWhichTimesAreTaken) {
  struct Expect {
    const char16_t* scope;
    uint32_t active;
    int32_t outerNet;
    bool cpu;
    bool netCpu;
  };
  for (const Expect& e : {Expect{u"0", 0, 0, false, false}, Expect{u"1", 1, 0, false, false},
                          Expect{u"2", 1, 60, false, false}, Expect{u"3", 1, 0, true, false},
                          Expect{u"4", 1, 60, true, true}}) {
    SCOPED_TRACE(utf16ToUtf8Lenient(e.scope));
    CPerfDataManager::destroyInstance();
    CMTContextManager::destroyInstance();
    TrcCloseLibraryFile();
    auto ctx = context({{u"perf_metric_scope", e.scope}});
    ctx->startTiming(u"O|o", 1);
    CMTCallRecord& outer = call(*ctx, 0);
    EXPECT_EQ(perf(u"O|o").active, e.active);
    advance(10);
    ctx->startTiming(u"I|i", 1);
    advance(40);
    ctx->endTiming(2);
    advance(50);
    ctx->endTiming(1);
    EXPECT_EQ(outer.elapsedMs, 100);
    EXPECT_EQ(outer.netElapsedMs, e.outerNet);
    EXPECT_EQ(outer.cpuUs >= 0, e.cpu);
    if (!e.cpu) {
      EXPECT_EQ(outer.netCpuUs, -1);
    } else if (!e.netCpu) {
      EXPECT_EQ(outer.netCpuUs, 0);
    }
    EXPECT_EQ(perf(u"O|o").count, 1u);  // an ended top call always adds its times
  }
}

TEST_F(TimingTest, EndingOuterCallClosesInnerOnesWithoutTimes) {
  CMTContextManager& manager = start();
  manager.startTiming(u"k", u"C", u"one", 1);
  manager.startTiming(u"k", u"C", u"two", 1);
  manager.startTiming(u"k", u"C", u"three", 1);
  advance(10);
  manager.endTiming(u"k", 1);

  EXPECT_FALSE(manager.findContext(u"k"));  // finished and removed
  for (const char16_t* key : {u"C|two", u"C|three"}) {
    PerfValues inner = perf(key);
    EXPECT_EQ(inner.terminated, 1u);
    EXPECT_EQ(inner.count, 0u);
    EXPECT_EQ(inner.active, 0u);
  }
  PerfValues outer = perf(u"C|one");
  EXPECT_EQ(outer.finished, 1u);
  EXPECT_EQ(outer.count, 0u);  // not traced and not at top: counted only
  std::string log = traceLog();
  EXPECT_NE(log.find("C|three - [TerminateTiming] TimeStat:NO\n"), std::string::npos);
  EXPECT_LT(log.find("C|three - [TerminateTiming]"), log.find("C|two - [TerminateTiming]"));
  EXPECT_NE(log.find("C|one - [EndTiming] TimeStat:NO\n"), std::string::npos);
  EXPECT_NE(log.find("C|one - [StartTiming]\n"), std::string::npos);
}

TEST_F(TimingTest, TracedOuterCallEndedOnTheWayAddsItsTimes) {
  auto ctx = context({{u"trace_enabled_via_em", u"1"}});
  ASSERT_EQ(ctx->traceOn, 1u);
  ctx->startTiming(u"C|one", 1);
  CMTCallRecord& outer = call(*ctx, 0);
  ctx->startTiming(u"C|two", 1);
  CMTCallRecord& inner = call(*ctx, 1);
  advance(25);
  ctx->endTiming(1);
  EXPECT_EQ(inner.status, CMTCallRecord::TerminatedWithoutTimes);
  EXPECT_EQ(inner.elapsedMs, 0);
  EXPECT_EQ(outer.elapsedMs, 25);
  EXPECT_EQ(perf(u"C|one").count, 1u);
  EXPECT_EQ(traces(), std::vector<std::string>{kTrace});
}

TEST_F(TimingTest, RecIdNotOpenTerminatesEverything) {
  CMTContextManager& manager = start();
  manager.startTiming(u"k", u"C", u"one", 1);
  manager.startTiming(u"k", u"C", u"two", 1);
  manager.endTiming(u"k", 2);
  manager.startTiming(u"k", u"C", u"three", 1);
  manager.endTiming(u"k", 2);  // 2 has ended already

  ContextRef context = manager.findContext(u"k");
  ASSERT_TRUE(context);
  EXPECT_EQ(context->state, CMTContext::Terminated);
  EXPECT_EQ(context->levelThreshold, 0u);
  EXPECT_TRUE(context->openCalls().empty());
  EXPECT_EQ(context->root->status, CMTCallRecord::TerminatedWithoutTimes);
  context.release();
  EXPECT_EQ(perf(u"C|three").terminated, 1u);
  EXPECT_EQ(perf(u"C|one").terminated, 1u);
  EXPECT_EQ(perf(u"C|one").active, 0u);  // the outer call is not left running
  EXPECT_EQ(countOf(traceLog(), "Abnormal exception encountered, invalid recId input!"), 1u);

  // The same through terminateTiming writes no message.
  manager.initContext(u"k", u"");
  manager.startTiming(u"k", u"C", u"one", 1);
  manager.startTiming(u"k", u"C", u"two", 1);
  manager.terminateTiming(u"k", 2);
  manager.startTiming(u"k", u"C", u"three", 1);
  manager.terminateTiming(u"k", 2);
  EXPECT_EQ(manager.findContext(u"k")->state, CMTContext::Terminated);
  EXPECT_EQ(countOf(traceLog(), "Abnormal exception encountered, invalid recId input!"), 1u);
}

TEST_F(TimingTest, RecIdAboveTopOrZeroChangesNothing) {
  auto ctx = context();
  ctx->startTiming(u"C|one", 1);
  ctx->startTiming(u"C|two", 1);
  ctx->startTiming(u"C|three", 1);
  ctx->endTiming(3);
  ctx->endTiming(5);
  ctx->terminateTiming(5);
  ctx->endTiming(0);
  EXPECT_EQ(ctx->openCalls().size(), 2u);
  EXPECT_EQ(ctx->state, CMTContext::Active);
  EXPECT_EQ(call(*ctx, 1).status, CMTCallRecord::Running);
  EXPECT_EQ(perf(u"C|two").active, 1u);
}

TEST_F(TimingTest, TerminateWithAndWithoutTimes) {
  auto ctx = context();
  ctx->startTiming(u"C|outer", 1);
  CMTCallRecord& outer = call(*ctx, 0);
  ctx->startTiming(u"C|mid", 1);
  CMTCallRecord& mid = call(*ctx, 1);
  ctx->startTiming(u"C|top", 1);
  CMTCallRecord& top = call(*ctx, 2);
  advance(40);
  ctx->terminateTiming(3);  // at top: times added
  EXPECT_EQ(top.status, CMTCallRecord::TerminatedWithTimes);
  EXPECT_EQ(top.elapsedMs, 40);
  ctx->startTiming(u"C|inner", 1);
  ctx->terminateTiming(1);  // inner without times, outer on the way: counted only
  EXPECT_EQ(mid.status, CMTCallRecord::TerminatedWithoutTimes);
  EXPECT_EQ(outer.status, CMTCallRecord::TerminatedWithTimes);
  EXPECT_EQ(ctx->state, CMTContext::Finished);

  PerfValues topPerf = perf(u"C|top");
  EXPECT_EQ(topPerf.terminated, 1u);
  EXPECT_EQ(topPerf.count, 1u);
  EXPECT_EQ(topPerf.sumElapsed, 40);
  EXPECT_EQ(perf(u"C|inner").terminated, 1u);
  EXPECT_EQ(perf(u"C|mid").terminated, 1u);
  PerfValues outerPerf = perf(u"C|outer");
  EXPECT_EQ(outerPerf.terminated, 1u);
  EXPECT_EQ(outerPerf.count, 0u);
  EXPECT_NE(traceLog().find("C|top - [TerminateTiming] TimeStat:YES\n"), std::string::npos);
}

TEST_F(TimingTest, SkippedComponentRecordsOnlyShortCalls) {
  Pairs pairs{{u"skip_times_in_names", u"DB"}, {u"skip_times_below_threshold", u"1000"}};
  CMTContextManager& manager = start(pairs);
  uint32_t id = manager.startTiming(u"a", u"DB", u"q", 1);
  advance(999);
  manager.endTiming(u"a", id);
  id = manager.startTiming(u"b", u"DB", u"q", 1);
  advance(1000);
  manager.endTiming(u"b", id);
  PerfValues skipped = perf(u"DB|q");
  EXPECT_EQ(skipped.count, 1u);
  EXPECT_EQ(skipped.finished, 1u);
  EXPECT_EQ(skipped.sumElapsed, 999);
  EXPECT_EQ(skipped.active, 0u);  // skipped keys are never counted as active

  // A traced context records both.
  CMTContextManager::destroyInstance();
  CPerfDataManager::destroyInstance();
  TrcCloseLibraryFile();
  pairs.push_back({u"trace_enabled_via_em", u"1"});
  CMTContextManager& traced = start(pairs);
  for (const char16_t* key : {u"a", u"b"}) {
    id = traced.startTiming(key, u"DB", u"q", 1);
    advance(1000);
    traced.endTiming(key, id);
  }
  EXPECT_EQ(perf(u"DB|q").count, 2u);
}

TEST_F(TimingTest, MaxComponentsStopsLinkingTheTree) {
  auto ctx = context({{u"max_components_per_transaction", u"3"}, {u"trace_enabled_via_em", u"1"}});
  ctx->startTiming(u"C|1", 1);
  ctx->startTiming(u"C|2", 1);
  EXPECT_TRUE(traces().empty());
  ctx->startTiming(u"C|3", 1);
  EXPECT_FALSE(ctx->collectTree);
  EXPECT_EQ(traces(), (std::vector<std::string>{kMaxComponents, kTrace}));
  EXPECT_EQ(ctx->startTiming(u"C|4", 1), 4u);
  EXPECT_TRUE(call(*ctx, 2).children.empty());  // 3 is linked, 4 is not
  EXPECT_EQ(call(*ctx, 1).children.size(), 1u);
  EXPECT_EQ(perf(u"C|4").active, 1u);
  for (uint32_t id = 4; id >= 1; --id) ctx->endTiming(id);
  EXPECT_EQ(traces().size(), 2u);  // no tree trace at the end
  EXPECT_EQ(ctx->recordCount(), 4u);

  // Untraced: the tree stops all the same, without traces.
  auto plain = std::make_unique<CMTContext>(*CMTContextManager::getInstance());
  plain->traceOn = 0;
  for (int i = 0; i < 3; ++i) plain->startTiming(u"C|x", 1);
  EXPECT_FALSE(plain->collectTree);
  EXPECT_EQ(traces().size(), 2u);
}

TEST_F(TimingTest, TracedUnitOfWorkProducesPreviewTooLargeAndFinalTraces) {
  auto ctx = context({{u"trace_enabled_via_em", u"1"}});
  ctx->startTiming(u"C|root", 1);
  ctx->startTiming(u"C|a", 1);
  advance(30000);
  ctx->endTiming(2);  // exactly the preview timeout: no preview
  EXPECT_TRUE(traces().empty());
  ctx->startTiming(u"C|b", 1);
  advance(1);
  ctx->endTiming(3);
  EXPECT_EQ(traces(), std::vector<std::string>{kTrace});
  EXPECT_TRUE(ctx->previewSent);
  ctx->startTiming(std::u16string(10000, u'L') + u"|m", 1);  // the trace grows past 10000
  ctx->endTiming(4);
  EXPECT_EQ(traces(), (std::vector<std::string>{kTrace, kTooLarge, kTrace}));
  EXPECT_FALSE(ctx->collectTree);
  ctx->endTiming(1);
  EXPECT_EQ(traces().size(), 3u);  // the tree is no longer collected
  EXPECT_EQ(ctx->state, CMTContext::Finished);
}

TEST_F(TimingTest, AutomaticTraceForLongUntracedUnitOfWork) {
  CMTContextManager& manager = start();
  uint32_t id = manager.startTiming(u"quick", u"C", u"m", 1);
  advance(60000);
  manager.endTiming(u"quick", id);
  EXPECT_TRUE(traces().empty());
  id = manager.startTiming(u"slow", u"C", u"m", 1);
  advance(60001);
  manager.endTiming(u"slow", id);
  EXPECT_EQ(traces(), std::vector<std::string>{kTrace});
}

}  // namespace
