#include <gtest/gtest.h>

#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

class TimingTest : public ContextTest {
 protected:
  // A context outside the registry, so that its records outlive the unit of work.
  std::unique_ptr<CMTContext> context(const Pairs& pairs = {}) { return std::make_unique<CMTContext>(start(pairs)); }
  static CMTCallRecord& call(CMTContext& context, size_t depth) { return *context.openCalls().at(depth); }
};

TEST_F(TimingTest, NestedCallsGiveNetTimesOffsetAndTree) {
  auto ctx = context();
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
  EXPECT_EQ(b.offsetMs, 100u);
  EXPECT_EQ(std::tuple(a.elapsedMs, a.netElapsedMs, b.elapsedMs, b.netElapsedMs), std::tuple(150, 120, 30, 30));
  ASSERT_GE(b.cpuUs, 0);
  EXPECT_EQ(a.netCpuUs, a.cpuUs - b.cpuUs);
  EXPECT_EQ(ctx->traceSize, 2u * (3 + 100));
  EXPECT_EQ(counts(u"A|a"), "0/1/0/1");
  EXPECT_EQ(perf(u"A|a").sumNetElapsed, 120);
}

// Traced, the outer call ended on the way adds its times.
TEST_F(TimingTest, EndingOuterCallClosesInnerOnesWithoutTimes) {
  auto ctx = context({{u"trace_enabled_via_em", u"1"}});
  ctx->startTiming(u"C|one", 1);
  ctx->startTiming(u"C|two", 1);
  CMTCallRecord& inner = call(*ctx, 1);
  advance(25);
  ctx->endTiming(1);
  EXPECT_EQ(inner.status, CMTCallRecord::TerminatedWithoutTimes);
  EXPECT_EQ(ctx->root->elapsedMs, 25);
  EXPECT_EQ(counts(u"C|one"), "0/1/0/1");
  EXPECT_EQ(counts(u"C|two"), "0/0/1/0");
  EXPECT_EQ(traceTexts().size(), 1u);
}

TEST_F(TimingTest, RecIdNotOpenTerminatesEverythingAndAboveTopChangesNothing) {
  CMTContextManager& manager = start();
  for (bool viaEnd : {true, false}) {
    manager.initContext(u"k", u"");
    manager.startTiming(u"k", u"C", u"one", 1);
    manager.startTiming(u"k", u"C", u"two", 1);
    viaEnd ? manager.endTiming(u"k", 2) : manager.terminateTiming(u"k", 2);
    manager.startTiming(u"k", u"C", u"three", 1);
    viaEnd ? manager.endTiming(u"k", 2) : manager.terminateTiming(u"k", 2);  // 2 has ended already
    ContextRef context = manager.findContext(u"k");
    ASSERT_TRUE(context);
    EXPECT_EQ(context->state, CMTContext::Terminated);
    EXPECT_TRUE(context->openCalls().empty());
    EXPECT_EQ(context->root->status, CMTCallRecord::TerminatedWithoutTimes);
  }
  EXPECT_EQ(counts(u"C|one"), "0/0/2/0");  // the outer call is not left running
  EXPECT_EQ(countOf(traceLog(), "Abnormal exception encountered, invalid recId input!"), 1u);  // end only

  auto ctx = context();
  for (const char16_t* key : {u"C|one", u"C|two", u"C|three"}) ctx->startTiming(key, 1);
  ctx->endTiming(3);
  ctx->endTiming(5);
  ctx->terminateTiming(5);
  ctx->endTiming(0);
  EXPECT_EQ(ctx->openCalls().size(), 2u);
  EXPECT_EQ(ctx->state, CMTContext::Active);
  EXPECT_EQ(counts(u"C|two"), "1/0/0/0");
}

TEST_F(TimingTest, TerminateWithAndWithoutTimes) {
  auto ctx = context();
  for (const char16_t* key : {u"C|outer", u"C|mid", u"C|top"}) ctx->startTiming(key, 1);
  CMTCallRecord& outer = call(*ctx, 0);
  CMTCallRecord& mid = call(*ctx, 1);
  CMTCallRecord& top = call(*ctx, 2);
  advance(40);
  ctx->terminateTiming(3);  // at top: times added
  EXPECT_EQ(top.status, CMTCallRecord::TerminatedWithTimes);
  ctx->startTiming(u"C|inner", 1);
  ctx->terminateTiming(1);  // inner without times, outer on the way: counted only
  EXPECT_EQ(mid.status, CMTCallRecord::TerminatedWithoutTimes);
  EXPECT_EQ(outer.status, CMTCallRecord::TerminatedWithTimes);
  EXPECT_EQ(ctx->state, CMTContext::Finished);
  EXPECT_EQ(counts(u"C|top"), "0/0/1/1");
  EXPECT_EQ(perf(u"C|top").sumElapsed, 40);
  for (const char16_t* key : {u"C|inner", u"C|mid", u"C|outer"}) EXPECT_EQ(counts(key), "0/0/1/0");
}

TEST_F(TimingTest, SkippedComponentRecordsOnlyShortCallsUnlessTraced) {
  for (const char16_t* traced : {u"0", u"1"}) {
    CMTContextManager& manager = start({{u"skip_times_in_names", u"DB,,Cache"},
                                        {u"skip_times_below_threshold", u"1000"},
                                        {u"trace_enabled_via_em", traced}});
    EXPECT_TRUE(manager.isSkipped(u"Cache|get"));
    EXPECT_FALSE(manager.isSkipped(u"DBX|query"));  // whole components only
    EXPECT_FALSE(manager.isSkipped(u"App|DB|x"));
    for (auto [key, ms] : {std::pair{u"a", 999u}, std::pair{u"b", 1000u}}) {
      const uint32_t id = manager.startTiming(key, u"DB", u"q", 1);
      advance(ms);
      manager.endTiming(key, id);
    }
    // Skipped keys are never counted as active.
    EXPECT_EQ(counts(u"DB|q"), traced[0] == u'1' ? "0/2/0/2" : "0/1/0/1");
    EXPECT_EQ(perf(u"DB|q").sumElapsed, traced[0] == u'1' ? 1999 : 999);
  }
}

// Once the tree is full, calls inside a long-open outer call no longer pile
// up, however they end.
TEST_F(TimingTest, ContextHoldsTheTreeAndItsOpenCallsOnly) {
  auto ctx = context({{u"max_components_per_transaction", u"50"}});
  const uint32_t outer = ctx->startTiming(u"Svc|outer", 1);
  for (int i = 0; i < 10000; ++i) {
    const uint32_t a = ctx->startTiming(u"Db|a", 1), b = ctx->startTiming(u"Db|b", 1), c = ctx->startTiming(u"Db|c", 1);
    if (i % 3 == 1) ctx->terminateTiming(c);
    if (i % 3 == 2) ctx->endTiming(c);
    ctx->endTiming(b);  // closes c on the way when still open
    ctx->endTiming(a);
    ASSERT_LE(ctx->recordCount(), 50u) << i;
  }
  EXPECT_EQ(ctx->recordCount(), 50u);  // the full tree; the outer call is part of it
  EXPECT_FALSE(ctx->collectTree);
  EXPECT_EQ(ctx->openCalls().size(), 1u);
  EXPECT_EQ(counts(u"Db|c"), "0/3333/6667/6666");  // ended, terminated, timed
  ctx->endTiming(outer);
  EXPECT_EQ(ctx->state, CMTContext::Finished);
  EXPECT_EQ(counts(u"Svc|outer"), "0/1/0/1");
}

}  // namespace
