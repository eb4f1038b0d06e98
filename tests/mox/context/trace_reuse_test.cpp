// A thread's units of work one after another reuse the call records, their
// information and the buffers the trace is built in: each trace shows its own
// unit only, with host text escaped as in a first unit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mox/context/context_test_support.h"
#include "support/trace_text.h"

using namespace ctxtest;
using testsupport::normalisedTrace;

namespace {

const Pairs kTraced = {{u"trace_enabled_via_em", u"1"}};

class TraceReuseTest : public ContextTest {
 protected:
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const std::u16string& text : traceTexts()) out.push_back(normalisedTrace(utf16ToUtf8Lenient(text)));
    return out;
  }
};

std::string param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + value + "\" />";
}
const std::string kCpu = param("CPU Time (us)", "N");
const std::string kPassport = param("client.header.VEL-PASSPORT", "");

TEST_F(TraceReuseTest, LaterUnitsShowOnlyTheirOwnInformation) {
  CMTContextManager& manager = start(kTraced);
  const std::u16string key = u"k";
  // Every character the text must escape, a pair, a lone surrogate and an
  // empty value, on a unit whose records the later units take over.
  const uint32_t a = manager.startTiming(key, u"A", u"m", 1);
  manager.appendInfo(key, a, u"z", u"&<>\"\t\n\r\x01\xD83D\xDE00\xDC00", false);
  manager.appendInfo(key, a, u"y", u"", false);
  const uint32_t b = manager.startTiming(key, u"B", u"m", 1);
  manager.appendInfo(key, b, u"x", std::u16string(3000, u'l'), false);
  manager.endTiming(key, b);
  manager.endTiming(key, a);
  // Fewer calls and names, one sorting before the old ones.
  const uint32_t c = manager.startTiming(key, u"C", u"m", 1);
  manager.appendInfo(key, c, u"b", u"1", false);
  manager.appendInfo(key, c, u"a", u"2", true);
  manager.appendInfo(key, c, u"b", u"3", true);
  manager.endTiming(key, c);
  manager.endTiming(key, manager.startTiming(key, u"D", u"m", 1));

  const std::string escaped = "&amp;&lt;&gt;&quot;&#9;&#10;&#13;\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD";
  const std::string end = kPassport + "</event>\n";
  EXPECT_EQ(texts(), (std::vector<std::string>{
                         "<event resource=\"A|m\" startTime=\"T\" duration=\"0\"><calledComponent resource=\"B|m\" "
                         "offset=\"0\" duration=\"0\">" +
                             kCpu + param("x", std::string(3000, 'l')) + "</calledComponent>" + kCpu + param("y", "") +
                             param("z", escaped) + end,
                         "<event resource=\"C|m\" startTime=\"T\" duration=\"0\">" + kCpu + param("a", "2") +
                             param("b", "1,3") + end,
                         "<event resource=\"D|m\" startTime=\"T\" duration=\"0\">" + kCpu + end}));
}

}  // namespace
