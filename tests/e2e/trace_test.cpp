// Transaction traces and the information appends, through the exports with
// the file agent: exact text with times and start times normalised,
// and every produced line read back with an XML parser.
#include <expat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/trace_text.h"

namespace {

using e2e::LibraryTest;
using e2e::lines;
using testsupport::normalisedTrace;

const mox_char* sessionS1() { return u"S1"; }

// The same host calls through the plain exports or the Ex exports (session "S1").
struct Host {
  bool ex;
  uint32_t start(const mox_char* component, const mox_char* method) const {
    return ex ? MOX_startTimingEx(sessionS1, component, method, 1) : MOX_startTiming(component, method, 1);
  }
  void end(uint32_t id) const { ex ? MOX_endTimingEx(sessionS1, id) : MOX_endTiming(id); }
  void info(uint32_t id, const mox_char* name, const mox_char* value) const {
    ex ? MOX_appendInfoEx(sessionS1, id, name, value) : MOX_appendInfo(id, name, value);
  }
  void list(uint32_t id, const mox_char* name, const mox_char* value) const {
    ex ? MOX_appendInfoToListEx(sessionS1, id, name, value) : MOX_appendInfoToList(id, name, value);
  }
  void parameter(uint32_t id, const mox_char* name, const mox_char* value) const {
    ex ? MOX_appendParameterInfoEx(sessionS1, id, name, value) : MOX_appendParameterInfo(id, name, value);
  }
  void returned(uint32_t id, const mox_char* value) const {
    ex ? MOX_appendReturnInfoEx(sessionS1, id, value) : MOX_appendReturnInfo(id, value);
  }
  void exception(uint32_t id, const mox_char* value) const {
    ex ? MOX_appendExceptionInfoEx(sessionS1, id, value) : MOX_appendExceptionInfo(id, value);
  }
  void passport(uint32_t id, const mox_char* value, uint8_t toList) const {
    ex ? MOX_appendPassportInfoEx(sessionS1, id, value, toList) : MOX_appendPassportInfo(id, value, toList);
  }
  void user(const mox_char* value) const { ex ? MOX_appendUserIDEx(sessionS1, value) : MOX_appendUserID(value); }
  void context(const mox_char* name, const mox_char* value) const {
    ex ? MOX_appendContextInfoEx(sessionS1, name, value) : MOX_appendContextInfo(name, value);
  }
};

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& start) {
  std::vector<std::string> found;
  for (const std::string& line : lines(text)) {
    if (line.rfind(start, 0) == 0) found.push_back(line);
  }
  return found;
}

std::string param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + value + "\" />";
}

TEST_F(LibraryTest, TracedUnitOfWorkGivesOneEventLineWithTheTreeAndItsInformation) {
  initWith({{"trace_enabled_via_em", "1"}, {"tracecheck_interval", "0"}});
  for (const Host host : {Host{false}, Host{true}}) {
    const uint32_t p = host.start(u"Order", u"create");
    const uint32_t q = host.start(u"Pricing", u"quote");
    const uint32_t r = host.start(u"Db", u"select");
    host.info(r, u"Rows", u"7");
    host.info(q, u"Late", u"dropped");  // not the innermost open call
    host.end(r);
    host.exception(q, u"E");
    host.parameter(q, u"b", u"2");
    host.parameter(q, u"a", u"1");
    host.returned(q, u"3");
    host.passport(q, u"X1", 1);
    host.passport(q, u"X2", 1);
    host.end(q);
    host.info(p, u"Zeta", u"z");
    host.list(p, u"List", u"a");
    host.list(p, u"List", u"b");
    host.passport(p, u"OUT", 0);
    host.passport(p, u"OUT2", 0);
    host.returned(p, u"first");
    host.returned(p, u"second");
    host.user(u"alice");
    host.context(u"Area", u"emea");
    host.end(p);
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
  const std::vector<std::string> events = linesStartingWith(metricFile(), "<event");
  ASSERT_EQ(events.size(), 2u) << metricFile();
  for (const std::string& event : events) EXPECT_EQ(normalisedTrace(event, true), expected);
}

TEST_F(LibraryTest, LongParameterNameIsCutToTheNameBuffer) {
  initWith({{"trace_enabled_via_em", "1"}, {"tracecheck_interval", "0"}});
  const uint32_t id = MOX_startTiming(u"K", u"m", 1);
  MOX_appendParameterInfo(id, std::u16string(240, u'n').c_str(), u"v");
  // The cut would fall inside the surrogate pair: the whole pair goes.
  MOX_appendParameterInfo(id, (std::u16string(232, u's') + u"\U0001F600tail").c_str(), u"w");
  MOX_endTiming(id);
  MOX_outputMetricData();
  const std::string text = metricFile();
  EXPECT_NE(text.find(param("Method Call Parameter " + std::string(233, 'n'), "v")), std::string::npos);
  EXPECT_NE(text.find(param("Method Call Parameter " + std::string(232, 's'), "w")), std::string::npos);
}

// ---- reading the output back with a real XML parser ------------------------

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  Element element{name, {}};
  for (size_t i = 0; attributes[i] != nullptr; i += 2) element.attributes[attributes[i]] = attributes[i + 1];
  static_cast<std::vector<Element>*>(data)->push_back(element);
}

// The elements of one line in document order; false when it is not well-formed.
bool parseLine(const std::string& line, std::vector<Element>& elements) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &elements);
  XML_SetStartElementHandler(parser, &onStart);
  const bool ok = XML_Parse(parser, line.data(), static_cast<int>(line.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

TEST_F(LibraryTest, EveryTraceAndMetricLineParsesBackToTheHostText) {
  initWith({{"trace_enabled_via_em", "1"}, {"tracecheck_interval", "0"}, {"system_name", "Sys&<Co>"}});
  MOX_setInstancePrefix(u"pre\"fix");
  const uint32_t outer = MOX_startTiming(u"Comp\"x", u"m<&>", 1);
  const uint32_t inner = MOX_startTiming(u"Db", u"q\"1\"", 1);
  MOX_appendInfo(inner, u"sql", u"select * from t where a < 1 & b > \"2\"\nand c = '\t'");
  MOX_endTiming(inner);
  MOX_appendParameterInfo(outer, u"<p>", u"say \"<hi>\" & go\nnext");
  MOX_appendContextInfo(u"a>b", u"x&y");
  MOX_appendUserID(u"\"quoted\"\r\n");
  MOX_endTiming(outer);
  MOX_outputMetricData();

  const std::string prefix = "Sys&<Co>|e2e_0";
  std::map<std::string, std::string> params;  // every param element of the trace
  std::vector<std::string> resources;
  std::vector<std::string> metricNames;
  const std::vector<std::string> all = lines(metricFile());
  ASSERT_GE(all.size(), 3u);
  for (const std::string& line : all) {
    std::vector<Element> elements;
    ASSERT_TRUE(parseLine(line, elements)) << line;
    for (const Element& element : elements) {
      if (element.name == "metric") metricNames.push_back(element.attributes.at("name"));
      if (element.name == "param") params[element.attributes.at("name")] = element.attributes.at("value");
      if (element.name == "event" || element.name == "calledComponent") {
        resources.push_back(element.attributes.at("resource"));
      }
    }
  }
  EXPECT_EQ(resources, (std::vector<std::string>{"Comp\"x|m<&>", "Db|q\"1\""}));
  EXPECT_EQ(params.at("sql"), "select * from t where a < 1 & b > \"2\"\nand c = '\t'");
  EXPECT_EQ(params.at("Method Call Parameter <p>"), "say \"<hi>\" & go\nnext");
  EXPECT_EQ(params.at("a>b"), "x&y");
  EXPECT_EQ(params.at("User ID"), "\"quoted\"\r\n");
  EXPECT_EQ(metricNames.front(), prefix + ":MOX library version");
  for (const char* key : {"Comp\"x|m<&>", "Db|q\"1\""}) {
    const std::string name = prefix + "|pre\"fix|" + std::string(key) + ":Finished Counter";
    EXPECT_EQ(std::count(metricNames.begin(), metricNames.end(), name), 1) << name;
  }
}

}  // namespace
