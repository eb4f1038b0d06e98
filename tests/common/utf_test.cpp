// Text conversion at the library's edges.
#include "common/utf.h"

#include <gtest/gtest.h>

TEST(Utf, EveryScalarRangeRoundTrips) {
  const std::u16string text = u"\u0001\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF\U00010000\U0001F600\U0010FFFF";
  std::string utf8;
  std::u16string back;
  ASSERT_TRUE(utf16ToUtf8(text, utf8));
  EXPECT_EQ(utf8.substr(utf8.size() - 8), "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");  // pairs: one 4-byte sequence each
  ASSERT_TRUE(utf8ToUtf16(utf8, back));
  EXPECT_EQ(back, text);
}

TEST(Utf, UnpairedSurrogatesFailStrictAndBecomeHashLenient) {
  std::string out;
  for (const char16_t* text : {u"a\xD83D"
                               u"b",
                               u"a\xDE00", u"a\xD83D", u"\xDE00\xD83D"}) {
    EXPECT_FALSE(utf16ToUtf8(text, out));
  }
  EXPECT_EQ(utf16ToUtf8Lenient(u"a\xD83D"
                               u"b\xDE00"),
            "a#b#");
  EXPECT_EQ(utf16ToUtf8Lenient(u"\xDE00\xD83D"), "##");
  // A high surrogate followed by a pair: only the first is unpaired.
  EXPECT_EQ(utf16ToUtf8Lenient(u"\xD83D\xD83D\xDE00"), "#\xF0\x9F\x98\x80");
}

TEST(Utf, MalformedUtf8FailsStrictAndEachByteIsReplacedLenient) {
  const char* const bad[] = {
      "\x80",
      "\xC3",
      "\xE2\x82",
      "\xC3(",  // stray, cut short, missing continuation
      "\xC0\xAF",
      "\xE0\x80\xAF",
      "\xF0\x80\x80\xAF",  // overlong
      "\xED\xA0\x80",
      "\xF4\x90\x80\x80",  // surrogate, above U+10FFFF
  };
  std::u16string out;
  for (const char* text : bad) EXPECT_FALSE(utf8ToUtf16(text, out)) << text;
  EXPECT_EQ(utf8ToUtf16Lenient("a\xE2\x82"
                               "b"),
            u"a\uFFFD\uFFFDb");
  EXPECT_EQ(utf8ToUtf16Lenient("\xED\xA0\x80z"), u"\uFFFD\uFFFD\uFFFDz");
}
