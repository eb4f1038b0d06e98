// The trace texts of a context as the trace agent receives them, for every
// trigger: exact text, only CPU and start times matched by pattern.
#include "support/trace_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mox/context/context_test_support.h"

using namespace ctxtest;
using testsupport::normalisedTrace;

namespace {

const Pairs kUntraced = {{u"trace_preview_timeout", u"30"},
                         {u"auto_transaction_trace_threshold", u"60"},
                         {u"tracesize_threshold", u"10000"}};
const Pairs kTraced = {{u"trace_enabled_via_em", u"1"}, kUntraced[0], kUntraced[1], kUntraced[2]};

std::string param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + value + "\" />";
}
std::string cpu(const std::string& value = "N") { return param("CPU Time (us)", value); }
std::string event(const std::string& key, int duration) {
  return "<event resource=\"" + key + "\" startTime=\"T\" duration=\"" + std::to_string(duration) + "\">";
}
std::string called(const std::string& key, int offset, int duration) {
  return "<calledComponent resource=\"" + key + "\" offset=\"" + std::to_string(offset) + "\" duration=\"" +
         std::to_string(duration) + "\">";
}
const std::string kCalledEnd = "</calledComponent>";
// A called component without children or information.
std::string leaf(const std::string& key, int offset, int duration, const std::string& cpuValue = "N") {
  return called(key, offset, duration) + cpu(cpuValue) + kCalledEnd;
}
const std::string kEventEnd = "</event>\n";
const std::string kSnapshot = param("Trace Type", "ErrorSnapshot");
std::string error(const std::string& what) { return param("Method Call Error", what); }
std::string passport(const std::string& value) { return param("client.header.VEL-PASSPORT", value); }

using Texts = std::vector<std::string>;

class TraceTextTest : public ContextTest {
 protected:
  // The queued texts as UTF-8, start times and measured CPU times normalised.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const std::u16string& text : traceTexts()) out.push_back(normalisedTrace(utf16ToUtf8Lenient(text)));
    return out;
  }
  uint32_t startCall(CMTContextManager& manager, const char16_t* component, const char16_t* key = u"k") {
    return manager.startTiming(key, component, u"m", 1);
  }
};

TEST_F(TraceTextTest, PreviewShowsTheOpenCallsWithTheirDurationsSoFar) {
  CMTContextManager& manager = start(kTraced);
  const uint32_t p = startCall(manager, u"P");
  advance(1);
  const uint32_t q = startCall(manager, u"Q");
  advance(1);
  const uint32_t r = startCall(manager, u"R");
  advance(29998);
  manager.endTiming(u"k", r);  // 30000 ms after creation: not yet
  EXPECT_TRUE(texts().empty());
  manager.endTiming(u"k", startCall(manager, u"S"));
  advance(1);
  manager.endTiming(u"k", startCall(manager, u"T"));  // 30001 ms: the preview
  advance(4);
  manager.endTiming(u"k", q);
  manager.endTiming(u"k", p);
  const std::string done = leaf("R|m", 1, 29998) + leaf("S|m", 29999, 0) + leaf("T|m", 30000, 0);
  const std::string rest = cpu() + kCalledEnd + cpu() + passport("") + kEventEnd;
  EXPECT_EQ(texts(), (Texts{event("P|m", 30001) + called("Q|m", 1, 30000) + done + rest,
                            event("P|m", 30005) + called("Q|m", 1, 30004) + done + rest}));
}

TEST_F(TraceTextTest, TooLargeSnapshotHoldsTheRootAloneAndComesOnce) {
  CMTContextManager& manager = start(kTraced);
  const uint32_t p = startCall(manager, u"P");
  const std::string big(9800, 'x');
  manager.appendInfo(u"k", p, u"Big", std::u16string(big.begin(), big.end()), false);
  manager.appendContextInfo(u"k", u"User ID", u"u");
  EXPECT_EQ(manager.findContext(u"k")->traceSize, 103u + 9833u + 38u);  // just below 10000
  advance(3);
  manager.endTiming(u"k", startCall(manager, u"Q"));  // 10077 > 10000
  manager.endTiming(u"k", startCall(manager, u"R"));
  manager.endTiming(u"k", p);
  EXPECT_EQ(texts(), (Texts{event("P|m", 3) + cpu() + param("Big", big) + kSnapshot + error("Too large trace size") +
                                passport("") + param("User ID", "u") + kEventEnd,
                            event("P|m", 3) + leaf("Q|m", 3, 0) + cpu() + param("Big", big) + passport("") +
                                param("User ID", "u") + kEventEnd}));
}

// The snapshot prints the passport as given, the full trace adds the generated GUID.
TEST_F(TraceTextTest, MaxComponentsSnapshotHasThePassportParameterOnlyWithAPassport) {
  Pairs pairs = kTraced;
  pairs.push_back({u"max_components_per_transaction", u"2"});
  CMTContextManager& manager = start(pairs);
  std::string guid;
  for (const char16_t* given : {u"", u"*1000"}) {
    manager.initContext(u"k", given);
    guid = utf16ToUtf8Lenient(manager.findContext(u"k")->guid());
    const uint32_t p = startCall(manager, u"P");
    advance(2);
    manager.endTiming(u"k", startCall(manager, u"Q"));  // the second call reaches the maximum
    manager.endTiming(u"k", p);
  }
  ASSERT_EQ(guid.size(), 32u);
  const std::string root = event("P|m", 2) + cpu() + kSnapshot + error("Max components threshold reached");
  const std::string tree = event("P|m", 2) + leaf("Q|m", 2, 0) + cpu();
  EXPECT_EQ(texts(), (Texts{root + kEventEnd, tree + passport("") + kEventEnd, root + passport("*1000") + kEventEnd,
                            tree + passport(guid + "*1000") + kEventEnd}));
}

TEST_F(TraceTextTest, AutomaticTraceOfAnUntracedContextCarriesOnlyItsContextInformation) {
  Pairs pairs = kUntraced;
  pairs.push_back({u"perf_metric_scope", u"1"});  // no CPU times taken
  CMTContextManager& manager = start(pairs);
  const uint32_t quick = startCall(manager, u"P", u"quick");
  const uint32_t p = startCall(manager, u"P");
  manager.appendInfo(u"k", p, u"Dropped", u"untraced", false);
  manager.appendContextInfo(u"k", u"User ID", u"bob");
  advance(5);
  const uint32_t q = startCall(manager, u"Q");
  manager.appendInfo(u"k", q, u"Dropped", u"untraced", true);
  advance(59995);
  manager.endTiming(u"quick", quick);  // exactly the threshold: no trace
  advance(1);
  manager.endTiming(u"k", q);                         // 60001 ms after creation
  manager.endTiming(u"k", startCall(manager, u"R"));  // once only
  manager.endTiming(u"k", p);
  // The open call had no CPU start taken: -1, as for the ended one.
  EXPECT_EQ(texts(), (Texts{event("P|m", 60001) + leaf("Q|m", 5, 59996, "-1") + cpu("-1") + passport("") +
                            param("User ID", "bob") + kEventEnd}));
}

TEST_F(TraceTextTest, ZombieTraceHoldsTheTreeOrTheRootAloneWhenTooLarge) {
  CMTContextManager& manager = start(kUntraced);
  startCall(manager, u"P");
  manager.appendContextInfo(u"k", u"User ID", u"carol");
  advance(4);
  manager.endTiming(u"k", startCall(manager, u"Q"));
  startCall(manager, u"R");
  advance(10000);
  manager.scanContexts(10000, 10000);
  // Open calls show no CPU time: the scan runs on another thread than theirs.
  EXPECT_EQ(texts(),
            (Texts{event("P|m", 10004) + leaf("Q|m", 4, 0) + leaf("R|m", 4, 10000, "-1") + cpu("-1") + kSnapshot +
                   error("Timeout to zombie") + passport("") + param("User ID", "carol") + kEventEnd}));

  // Traced and past the size threshold: the root alone, with both errors.
  CMTContextManager& traced = start(kTraced);
  const uint32_t root = startCall(traced, u"P", u"big");
  traced.initContext(u"idle", u"");
  traced.terminateTimingAll(u"idle");  // terminated before any timed call
  traced.appendInfo(u"big", root, u"Big", std::u16string(9900, u'y'), false);
  startCall(traced, u"Q", u"big");
  advance(10000);
  traced.scanContexts(10000, 10000);
  Texts zombies = texts();
  ASSERT_EQ(zombies.size(), 2u);
  if (!zombies[0].empty()) std::swap(zombies[0], zombies[1]);  // bucket order
  EXPECT_EQ(zombies,
            (Texts{"",  // the terminated context that never timed a call
                   event("P|m", 10000) + cpu("-1") + param("Big", std::string(9900, 'y')) + kSnapshot +
                       error("Timeout to zombie") + error("Too large trace size") + passport("") + kEventEnd}));
}

TEST_F(TraceTextTest, InformationIsMergedAndCountedByItsRules) {
  CMTContextManager& manager = start(kTraced);
  const uint32_t p = startCall(manager, u"P");  // 3 + 100
  auto traceSize = [&] { return manager.findContext(u"k")->traceSize; };
  manager.appendInfo(u"k", p, u"Return Value", u"one", false);     // + 12 + 3 + 30
  manager.appendInfo(u"k", p, u"Return Value", u"second", false);  // replaced: + 12 + 6 + 30
  for (const char16_t* item : {u"a", u"b", u"c"}) manager.appendInfo(u"k", p, u"List", item, true);  // 35, 2, 2
  EXPECT_EQ(traceSize(), 103u + 45 + 48 + 39);
  manager.appendContextInfo(u"k", u"C", u"long");   // + 1 + 4 + 30
  manager.appendContextInfo(u"k", u"C", u"xy");     // shorter by 2: + 2
  manager.appendContextInfo(u"k", u"C", u"wxyz0");  // longer by 3: + 3
  EXPECT_EQ(traceSize(), 235u + 35 + 2 + 3);
  const uint32_t q = startCall(manager, u"Q");
  for (uint32_t id : {p, 0u, q + 1}) manager.appendInfo(u"k", id, u"Dropped", u"x", false);  // not the open call
  EXPECT_EQ(traceSize(), 275u + 103);
  manager.endTiming(u"k", q);
  manager.endTiming(u"k", p);

  manager.startTiming(u"t", u"T", u"m", 1);
  manager.terminateTimingAll(u"t");
  manager.appendContextInfo(u"t", u"User ID", u"ignored");  // a terminated context takes nothing
  EXPECT_TRUE(manager.findContext(u"t")->contextInfo.empty());

  EXPECT_EQ(texts(), (Texts{event("P|m", 0) + leaf("Q|m", 0, 0) + cpu() + param("List", "a,b,c") +
                            param("Return Value", "second") + passport("") + param("C", "wxyz0") + kEventEnd}));
}

}  // namespace
