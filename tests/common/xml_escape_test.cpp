// Markup and line ends are escaped, valid text copied; what XML 1.0 cannot
// carry becomes U+FFFD, which the end-to-end sweep over every code unit shows.
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

}  // namespace
