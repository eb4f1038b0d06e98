#include "common/xml_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(XmlEscapeTest, EscapesMarkupAndControlCharactersOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Order|create: 1,2 / 'x' = ok", u"Order|create: 1,2 / 'x' = ok"},  // byte for byte
      {u"a&b<c>d\"e&&", u"a&amp;b&lt;c&gt;d&quot;e&amp;&amp;"},
      {u"&amp;", u"&amp;amp;"},  // already escaped text is escaped again
      {std::u16string(u"\0\t\n\r\x1f x", 7), u"&#0;&#9;&#10;&#13;&#31; x"},
      {u"\x7f\u00e9\u20ac\U0001F600", u"\x7f\u00e9\u20ac\U0001F600"},                 // not below U+0020
      {std::u16string(1, u'\xD800') + u"<", std::u16string(1, u'\xD800') + u"&lt;"},  // lone surrogate kept
  };
  for (const auto& [in, expected] : cases) {
    std::u16string out = u"prefix:";
    appendXmlEscaped(out, in);
    EXPECT_EQ(out, u"prefix:" + expected);
  }
}
