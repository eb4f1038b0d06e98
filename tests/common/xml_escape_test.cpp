#include "common/xml_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using Cases = std::pair<std::u16string, std::u16string>;

std::u16string escaped(const std::u16string& in) {
  std::u16string out = u"prefix:";
  appendXmlEscaped(out, in);
  return out.substr(7);
}

std::u16string units(std::initializer_list<char16_t> list) { return std::u16string(list); }

const char16_t kHigh = 0xD800, kLow = 0xDC00, kFffd = 0xFFFD;

TEST(XmlEscapeTest, EscapesMarkupAndKeepsValidTextByteForByte) {
  const Cases cases[] = {
      {u"Order|create: 1,2 / 'x' = ok", u"Order|create: 1,2 / 'x' = ok"},  // byte for byte
      {u"a&b<c>d\"e&&", u"a&amp;b&lt;c&gt;d&quot;e&amp;&amp;"},
      {u"&amp;", u"&amp;amp;"},  // already escaped text is escaped again
      {u"\t\n\r x", u"&#9;&#10;&#13; x"},
      // Allowed in XML 1.0 though not printable: DEL, C1 controls, the edges of the allowed ranges.
      {u"\x7f\x80\x9f\u00e9\u20ac\uD7FF\uE000\uFFFD\U0001F600\U0010FFFF",
       u"\x7f\x80\x9f\u00e9\u20ac\uD7FF\uE000\uFFFD\U0001F600\U0010FFFF"},
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(escaped(in), expected);
}

TEST(XmlEscapeTest, CodeUnitsXml10DoesNotAllowBecomeTheReplacementCharacter) {
  const Cases cases[] = {
      {std::u16string(u"\0a\x01\x08\x0b\x0c\x0e\x1b\x1f", 9),
       units({kFffd, u'a', kFffd, kFffd, kFffd, kFffd, kFffd, kFffd, kFffd})},
      {u"\uFFFE\uFFFFx", units({kFffd, kFffd, u'x'})},
      // The surrogate combinations: lone high (inside, at the end), lone low
      // (at the start, inside), a reversed pair, two highs before a low, a
      // pair followed by a low, and well-formed pairs at the start and end.
      {units({u'a', kHigh, u'b'}), units({u'a', kFffd, u'b'})},
      {units({u'a', kHigh}), units({u'a', kFffd})},
      {units({kLow, u'b'}), units({kFffd, u'b'})},
      {units({u'a', kLow, u'<'}), units({u'a', kFffd}) + u"&lt;"},
      {units({kLow, kHigh}), units({kFffd, kFffd})},
      {units({kHigh, kHigh, kLow}), units({kFffd, kHigh, kLow})},
      {units({kHigh, kLow, kLow}), units({kHigh, kLow, kFffd})},
      {units({0xDBFF, 0xDFFF, u'&'}), units({0xDBFF, 0xDFFF}) + u"&amp;"},
      {units({u'a', 0xDBFF, 0xDFFF}), units({u'a', 0xDBFF, 0xDFFF})},
  };
  for (const auto& [in, expected] : cases) {
    const std::u16string out = escaped(in);
    EXPECT_EQ(out, expected) << "case of " << in.size() << " code units";
  }
}

}  // namespace
