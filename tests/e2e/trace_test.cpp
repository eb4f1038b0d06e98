// Transaction traces and the information appends through the exports: exact text with times normalised, and every line
// read back with an XML parser.
#include <map>

#include "e2e/e2e_support.h"
#include "support/trace_text.h"
// The XML parser is there for the native build; a cross-build without it runs the other tests.
#if __has_include(<expat.h>)
#define MOX_TEST_XML_PARSER 1
#include "e2e/xml_elements.h"
#endif

namespace {

using e2e::LibraryTest;
using e2e::lines;
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

#if MOX_TEST_XML_PARSER
// What the sweep of host texts (xml_text_test) does not reach: system name, nested call, parameter and user texts,
// names cut to their buffer.
TEST_F(LibraryTest, EveryTraceAndMetricLineParsesBackToTheHostText) {
  initWith({{"trace_enabled_via_em", "1"}, {"tracecheck_interval", "0"}, {"system_name", "Sys&<Co>"}});
  MOX_setInstancePrefix(u"pre\"fix");
  const uint32_t outer = MOX_startTiming(u"Comp\"x", u"m<&>", 1);
  MOX_endTiming(MOX_startTiming(u"Db", u"q\"1\"", 1));
  MOX_appendParameterInfo(outer, u"<p>", u"say \"<hi>\" & go\nnext");
  // Long names are cut to the name buffer; a cut inside a surrogate pair takes the whole pair.
  MOX_appendParameterInfo(outer, std::u16string(240, u'n').c_str(), u"v");
  MOX_appendParameterInfo(outer, (std::u16string(232, u's') + u"\U0001F600tail").c_str(), u"w");
  MOX_appendUserID(u"\"quoted\"\r\n");
  MOX_endTiming(outer);
  MOX_outputMetricData();

  std::vector<e2e::Element> elements;
  for (const std::string& line : lines(metricFile())) ASSERT_TRUE(e2e::parseLine(line, elements)) << line;
  std::map<std::string, std::string> params;  // every param element of the trace
  std::vector<std::string> resources, metricNames;
  for (auto& [name, attributes] : elements) {
    if (name == "metric") metricNames.push_back(attributes["name"]);
    if (name == "param") params[attributes["name"]] = attributes["value"];
    if (name == "event" || name == "calledComponent") resources.push_back(attributes["resource"]);
  }
  EXPECT_EQ(resources, (std::vector<std::string>{"Comp\"x|m<&>", "Db|q\"1\""}));
  EXPECT_EQ(params["Method Call Parameter <p>"], "say \"<hi>\" & go\nnext");
  EXPECT_EQ(params["Method Call Parameter " + std::string(233, 'n')], "v");
  EXPECT_EQ(params["Method Call Parameter " + std::string(232, 's')], "w");
  EXPECT_EQ(params["User ID"], "\"quoted\"\r\n");
  const std::string prefix = "Sys&<Co>|e2e_0";
  EXPECT_EQ(metricNames.at(0), prefix + ":MOX library version");
  for (const std::string key : {"Comp\"x|m<&>", "Db|q\"1\""}) {
    EXPECT_EQ(std::count(metricNames.begin(), metricNames.end(), prefix + "|pre\"fix|" + key + ":Finished Counter"), 1);
  }
}
#endif

}  // namespace
