// Transaction traces and the information appends through the exports: exact text with times normalised.
#include "e2e/e2e_support.h"
#include "support/trace_text.h"

namespace {

using e2e::LibraryTest;
using testsupport::normalisedTrace;

const mox_char* sessionS1() { return u"S1"; }

// One host call through the plain export or its Ex form (session "S1").
template <typename Plain, typename Ex, typename... Args>
auto call(bool ex, Plain plain, Ex withSession, Args... args) {
  return ex ? withSession(sessionS1, args...) : plain(args...);
}

std::string param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + value + "\" />";
}

TEST_F(LibraryTest, TracedUnitOfWorkGivesOneEventLineWithTheTreeAndItsInformation) {
  initWith({{"trace_enabled_via_em", "1"}, {"tracecheck_interval", "0"}});
  for (const bool ex : {false, true}) {
    const uint32_t p = call(ex, MOX_startTiming, MOX_startTimingEx, u"Order", u"create", uint16_t{1});
    const uint32_t q = call(ex, MOX_startTiming, MOX_startTimingEx, u"Pricing", u"quote", uint16_t{1});
    const uint32_t r = call(ex, MOX_startTiming, MOX_startTimingEx, u"Db", u"select", uint16_t{1});
    call(ex, MOX_appendInfo, MOX_appendInfoEx, r, u"Rows", u"7");
    call(ex, MOX_appendInfo, MOX_appendInfoEx, q, u"Late", u"dropped");  // not the innermost open call
    call(ex, MOX_endTiming, MOX_endTimingEx, r);
    call(ex, MOX_appendExceptionInfo, MOX_appendExceptionInfoEx, q, u"E");
    call(ex, MOX_appendParameterInfo, MOX_appendParameterInfoEx, q, u"b", u"2");
    call(ex, MOX_appendParameterInfo, MOX_appendParameterInfoEx, q, u"a", u"1");
    call(ex, MOX_appendReturnInfo, MOX_appendReturnInfoEx, q, u"3");
    call(ex, MOX_appendPassportInfo, MOX_appendPassportInfoEx, q, u"X1", uint8_t{1});
    call(ex, MOX_appendPassportInfo, MOX_appendPassportInfoEx, q, u"X2", uint8_t{1});
    call(ex, MOX_endTiming, MOX_endTimingEx, q);
    call(ex, MOX_appendInfo, MOX_appendInfoEx, p, u"Zeta", u"z");
    call(ex, MOX_appendInfoToList, MOX_appendInfoToListEx, p, u"List", u"a");
    call(ex, MOX_appendInfoToList, MOX_appendInfoToListEx, p, u"List", u"b");
    call(ex, MOX_appendPassportInfo, MOX_appendPassportInfoEx, p, u"OUT", uint8_t{0});
    call(ex, MOX_appendPassportInfo, MOX_appendPassportInfoEx, p, u"OUT2", uint8_t{0});
    call(ex, MOX_appendReturnInfo, MOX_appendReturnInfoEx, p, u"first");
    call(ex, MOX_appendReturnInfo, MOX_appendReturnInfoEx, p, u"second");
    call(ex, MOX_appendUserID, MOX_appendUserIDEx, u"alice");
    call(ex, MOX_appendContextInfo, MOX_appendContextInfoEx, u"Area", u"emea");
    call(ex, MOX_endTiming, MOX_endTimingEx, p);
  }
  MOX_outputMetricData();
  const std::string expected =
      "<event resource=\"Order|create\" startTime=\"T\" duration=\"N\">"
      "<calledComponent resource=\"Pricing|quote\" offset=\"N\" duration=\"N\">"
      "<calledComponent resource=\"Db|select\" offset=\"N\" duration=\"N\">" +
      param("CPU Time (us)", "N") + param("Rows", "7") + "</calledComponent>" + param("CPU Time (us)", "N") +
      param("Exception", "E") + param("Method Call Parameter a", "1") + param("Method Call Parameter b", "2") +
      param("Return Value", "3") + param("outbound.VEL-PASSPORT", "X1,X2") + "</calledComponent>" +
      param("CPU Time (us)", "N") + param("List", "a,b") + param("Return Value", "second") + param("Zeta", "z") +
      param("outbound.VEL-PASSPORT", "OUT2") + param("client.header.VEL-PASSPORT", "") + param("Area", "emea") +
      param("User ID", "alice") + "</event>";
  EXPECT_EQ(e2e::countOf(metricFile(), "<event"), 2);
  EXPECT_EQ(e2e::countOf(normalisedTrace(metricFile(), true), expected + "\n"), 2) << metricFile();  // plain and Ex
}

}  // namespace
