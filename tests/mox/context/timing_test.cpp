#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "mox/context/context_test_support.h"

using namespace ctxtest;

namespace {

class TimingTest : public ContextTest {
 protected:
  // A context outside the registry, so that its records outlive the unit of work.
  std::unique_ptr<CMTContext> context(const Pairs& pairs = {}) { return std::make_unique<CMTContext>(start(pairs)); }
  std::pair<std::vector<std::string>, std::string> run(CMTContext& ctx, const std::string& script);
};

// A (50 ms) holds B (30 ms), which holds C (10 ms): at every level a call's net
// time is its own less its children's whole times, not their net times.
TEST_F(TimingTest, NestedCallsGiveNetTimesOffsetAndTree) {
  auto ctx = context();
  std::vector<CMTCallRecord*> calls;
  for (const char16_t* key : {u"A|a", u"B|b", u"C|c"}) {
    ASSERT_EQ(ctx->startTiming(key, 1), calls.size() + 1);
    calls.push_back(ctx->openCalls().back());
    advance(10);
  }
  for (uint32_t id : {3u, 2u, 1u}) ctx->endTiming(id), advance(10);
  const CMTCallRecord &a = *calls[0], &b = *calls[1], &c = *calls[2];
  EXPECT_EQ(ctx->state, CMTContext::Finished);
  EXPECT_EQ(ctx->root, &a);
  EXPECT_EQ(a.children, std::vector<CMTCallRecord*>{calls[1]});
  EXPECT_EQ(b.children, std::vector<CMTCallRecord*>{calls[2]});
  EXPECT_EQ(std::pair(b.offsetMs, c.offsetMs), std::pair(10u, 10u));
  EXPECT_EQ(std::tuple(a.elapsedMs, b.elapsedMs, c.elapsedMs), std::tuple(50, 30, 10));
  EXPECT_EQ(std::tuple(a.netElapsedMs, b.netElapsedMs, c.netElapsedMs), std::tuple(20, 20, 10));
  ASSERT_GE(c.cpuUs, 0);
  EXPECT_EQ(std::pair(a.netCpuUs, b.netCpuUs), std::pair(a.cpuUs - b.cpuUs, b.cpuUs - c.cpuUs));
  EXPECT_EQ(ctx->traceSize, 3u * (3 + 100));
  EXPECT_EQ(counts(u"A|a"), "0/1/0/1");
  EXPECT_EQ(perf(u"A|a").sumNetElapsed, 20);
  EXPECT_EQ(perf(u"B|b").sumNetElapsed, 20);
}

// Runs a script on a fresh context, 10 ms per step: "s" starts the next key
// (C|1, C|2, ...), "eN" ends and "tN" terminates recId N. Gives every key's
// record as "active/finished/terminated/count/sumElapsed" and the statuses.
std::pair<std::vector<std::string>, std::string> TimingTest::run(CMTContext& ctx, const std::string& script) {
  std::vector<CMTCallRecord*> calls;
  std::istringstream steps(script);
  for (std::string step; steps >> step;) {
    advance(10);
    const uint32_t id = step.size() > 1 ? static_cast<uint32_t>(std::stoul(step.substr(1))) : 0;
    if (step == "s") ctx.startTiming(u"C|" + decimalText(int64_t(calls.size() + 1)), 1);
    if (step == "s") calls.push_back(ctx.openCalls().back());
    if (step[0] == 'e') ctx.endTiming(id);
    if (step[0] == 't') ctx.terminateTiming(id);
  }
  std::vector<std::string> records;
  std::string statuses;
  for (size_t i = 0; i < calls.size(); ++i) {
    const std::u16string key = u"C|" + decimalText(int64_t(i + 1));
    records.push_back(counts(key) + "/" + std::to_string(perf(key).sumElapsed));
    statuses += char('0' + calls[i]->status);
  }
  return {records, statuses};
}

TEST_F(TimingTest, EndsAndTerminationsCloseCallsAndPassTimesByTheirRules) {
  using Records = std::vector<std::string>;
  struct Case {
    bool traced;
    std::string script;
    Records records;
    std::string statuses;  // 1 ended, 2 terminated with times, 3 without
    CMTContext::State state;
    size_t traces;
  } cases[] = {
      // Ending an outer call terminates the inner ones; only traced are its times added.
      {true, "s s e1", {"0/1/0/1/20", "0/0/1/0/0"}, "13", CMTContext::Finished, 1},
      {false, "s s e1", {"0/1/0/0/0", "0/0/1/0/0"}, "13", CMTContext::Finished, 0},
      // At the top with times; reached on the way and untraced, counted only.
      {false, "s s s t3 s t1", {"0/0/1/0/0", "0/0/1/0/0", "0/0/1/1/10", "0/0/1/0/0"}, "2323", CMTContext::Finished, 0},
      // A recId below the top that is not open terminates everything.
      {false, "s s e2 s e2", {"0/0/1/0/0", "0/1/0/1/10", "0/0/1/0/0"}, "313", CMTContext::Terminated, 0},
      {false, "s s t2 s t2", {"0/0/1/0/0", "0/0/1/1/10", "0/0/1/0/0"}, "323", CMTContext::Terminated, 0},
      // Above the top, or 0: nothing changes.
      {false, "s s s e3 e5 t5 e0", {"1/0/0/0/0", "1/0/0/0/0", "0/1/0/1/10"}, "001", CMTContext::Active, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    auto ctx = context({{u"trace_enabled_via_em", c.traced ? u"1" : u"0"}});
    EXPECT_EQ(run(*ctx, c.script), std::pair(c.records, c.statuses));
    EXPECT_EQ(ctx->state, c.state);
    EXPECT_EQ(traceTexts().size(), c.traces);
    EXPECT_EQ(countOf(traceLog(), "Abnormal exception encountered, invalid recId input!"), c.script == "s s e2 s e2");
  }
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

// Spare records are kept for the next calls, but never more than a few
// dozen: neither a deep nest unwinding inside a unit of work nor a huge
// unit pins its memory afterwards.
TEST_F(TimingTest, SpareRecordsStayBounded) {
  CMTContextManager& manager = start({{u"max_components_per_transaction", u"10"}});
  auto ctx = std::make_unique<CMTContext>(manager);
  std::vector<uint32_t> open;
  for (int i = 0; i < 500; ++i) open.push_back(ctx->startTiming(u"Db|q", 1));
  EXPECT_EQ(ctx->recordCount(), 500u);
  size_t mostSpare = 0;
  while (open.size() > 1) {
    ctx->endTiming(open.back());
    open.pop_back();
    mostSpare = std::max(mostSpare, ctx->spareRecordCount());
  }
  EXPECT_EQ(mostSpare, 64u);  // the unlinked calls past the tree came back, up to the bound
  EXPECT_EQ(ctx->recordCount(), 10u);
  ctx->endTiming(open.back());
  ctx->renew(manager);
  EXPECT_EQ(ctx->recordCount(), 0u);
  EXPECT_EQ(ctx->spareRecordCount(), 64u);
  // The next unit's calls reuse them.
  for (int i = 0; i < 3; ++i) ctx->startTiming(u"Db|q", 1);
  EXPECT_EQ(ctx->spareRecordCount(), 61u);
}

}  // namespace

// A unit of work repeating its calls gets its records back with the keys they
// had, and their performance records with them while their interval lasts:
// after an interval switch, and in a registry made later (possibly at the
// same address, with a store whose sections count from the same start), the
// calls go to the records current there.
TEST_F(TimingTest, RepeatedUnitsFollowTheirKeysRecordsAcrossIntervalsAndRegistries) {
  const auto unit = [](CMTContextManager& manager, const std::u16string& key) {
    const uint32_t outer = manager.startTiming(key, u"Outer", u"o", 1);
    const uint32_t inner = manager.startTiming(key, u"Inner", u"i", 1);
    manager.endTiming(key, inner);
    manager.endTiming(key, outer);
  };
  for (int registry = 0; registry < 2; ++registry) {
    CMTContextManager& manager = start();
    unit(manager, u"host");
    unit(manager, u"host");
    // The first record, Outer's so far, times another key.
    manager.endTiming(u"host", manager.startTiming(u"host", u"Other", u"x", 1));
    unit(manager, u"host");
    EXPECT_EQ(counts(u"Outer|o"), "0/3/0/3");
    EXPECT_EQ(counts(u"Inner|i"), "0/3/0/3");
    EXPECT_EQ(counts(u"Other|x"), "0/1/0/1");
    metrics_->handOverInterval(MetricFormat(), nullptr, nullptr);
    unit(manager, u"host");
    EXPECT_EQ(counts(u"Outer|o"), "0/1/0/1") << "in the interval after the switch";
    EXPECT_EQ(counts(u"Inner|i"), "0/1/0/1");
  }
}
