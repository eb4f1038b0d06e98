#include "mox/trace/trace_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/utf.h"
#include "dptrc/dptrc.h"

namespace {

std::u16string textOf(const std::u16string& record) {
  std::u16string out;
  formatTraceRecord(record, out);
  return out;
}

// Host text with everything the text escapes: markup characters, control
// characters, a non-BMP pair and lone surrogates (replaced).
const std::u16string kHostText = u"a&<>\"\t\n\r\x01\xD83D\xDE00\xDC00z\xD800";
const std::u16string kEscaped = u"a&amp;&lt;&gt;&quot;&#9;&#10;&#13;\xFFFD\xD83D\xDE00\xFFFDz\xFFFD";

TEST(TraceRecordTest, EveryItemBecomesItsElementWithHostTextEscaped) {
  std::u16string record;
  TraceRecordWriter writer(record);
  writer.event(kHostText, false, 0, false, 12);
  writer.calledComponent(u"C|m", 7, -1);
  writer.cpuTime(-1);
  writer.param(u"", u"");
  writer.param(kHostText, kHostText);
  writer.endCalledComponent();
  writer.cpuTime(INT64_MAX);
  writer.text(u"<param name=\"as\" value=\"is&amp;\" />");
  writer.endEvent();
  writer.text(u"\n");
  writer.endEventLine();
  EXPECT_EQ(textOf(record), u"<event resource=\"" + kEscaped + u"\" startTime=\"\" duration=\"12\">" +
                                u"<calledComponent resource=\"C|m\" offset=\"7\" duration=\"-1\">" +
                                u"<param name=\"CPU Time (us)\" value=\"-1\" /><param name=\"\" value=\"\" />" +
                                u"<param name=\"" + kEscaped + u"\" value=\"" + kEscaped + u"\" />" +
                                u"</calledComponent><param name=\"CPU Time (us)\" value=\"9223372036854775807\" />" +
                                u"<param name=\"as\" value=\"is&amp;\" /></event>\n</event>\n");
}

TEST(TraceRecordTest, StartTimeIsTheLocalTimeWithOrWithoutMilliseconds) {
  const int64_t wallMs = 1700000000123;  // within one second: the kept second's text serves both
  for (int64_t ms : {wallMs, wallMs + 1, int64_t{-1}}) {
    for (bool withMs : {false, true}) {
      std::u16string record;
      TraceRecordWriter(record).event(u"k", true, ms, withMs, 0);
      EXPECT_EQ(textOf(record),
                u"<event resource=\"k\" startTime=\"" + trcFormatLocalTime(ms, withMs) + u"\" duration=\"0\">")
          << ms << " " << withMs;
    }
  }
}

TEST(TraceRecordTest, LongValuesAndTextRecordsComeOutWhole) {
  const std::u16string longValue(100000, u'\xD83D');  // lone high surrogates, each replaced
  std::u16string record;
  TraceRecordWriter(record).param(u"n", longValue);
  EXPECT_EQ(textOf(record), u"<param name=\"n\" value=\"" + std::u16string(100000, u'\xFFFD') + u"\" />");
  // A finished text kept as a record, and an empty record.
  const std::u16string text = u"<event a=\"&amp;\"/>\n";
  EXPECT_EQ(textOf(textRecordHeader(text.size()) + text), text);
  EXPECT_EQ(textOf(u""), u"");
}

// Numbers take as many units as they need: every width, both ends of the
// range and the edges between widths come back exactly, also as lengths.
TEST(TraceRecordTest, NumbersOfEveryWidthComeBackExactly) {
  std::vector<int64_t> values = {0, 1, -1, INT64_MAX, INT64_MIN};
  for (int bits = 15; bits < 64; bits += 15) {
    const int64_t edge = int64_t{1} << bits;
    values.insert(values.end(), {edge - 1, edge, -edge, -edge - 1});
  }
  for (int64_t value : values) {
    std::u16string record;
    TraceRecordWriter(record).cpuTime(value);
    const std::u16string decimal = asciiToUtf16(std::to_string(value));
    EXPECT_EQ(textOf(record), u"<param name=\"CPU Time (us)\" value=\"" + decimal + u"\" />") << value;
  }
  for (size_t size : {size_t{0x7FFF}, size_t{0x8000}, size_t{0x40000}}) {
    const std::u16string value(size, u'v');
    std::u16string record;
    TraceRecordWriter(record).param(u"n", value);
    EXPECT_EQ(textOf(record), u"<param name=\"n\" value=\"" + value + u"\" />") << size;
  }
  // A number whose units all say that another follows is no number.
  EXPECT_EQ(textOf(std::u16string(1, u'\x03') + std::u16string(6, u'\x8001')), u"");
}

TEST(TraceRecordTest, RecordCutShortEndsTheTextWhereItWasCut) {
  std::u16string record;
  TraceRecordWriter writer(record);
  writer.cpuTime(5);
  writer.param(u"name", u"value");
  const std::u16string whole = textOf(record);
  for (size_t cut = 0; cut < record.size(); ++cut) {
    const std::u16string text = textOf(record.substr(0, cut));
    EXPECT_EQ(text, whole.substr(0, text.size())) << cut;
    EXPECT_LT(text.size(), whole.size()) << cut;
  }
  EXPECT_EQ(textOf(u"\xFFFF" + record), u"") << "an unknown item ends the text";
}

}  // namespace
