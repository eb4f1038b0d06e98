// Text conversion at the library's edges.
#include "common/utf.h"

#include <gtest/gtest.h>

#include "common/u16_equal.h"

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
  const char16_t high = 0xD83D, low = 0xDE00;
  const std::pair<std::u16string, std::string> cases[] = {
      {{u'a', high, u'b', low}, "a#b#"},
      {{u'a', high}, "a#"},
      {{low, high}, "##"},
      {{high, high, low}, "#\xF0\x9F\x98\x80"},  // only the first is unpaired
  };
  std::string out;
  for (const auto& [text, lenient] : cases) {
    EXPECT_FALSE(utf16ToUtf8(text, out)) << lenient;
    EXPECT_EQ(utf16ToUtf8Lenient(text), lenient);
  }
}

TEST(Utf, MalformedUtf8FailsStrictAndEachByteIsReplacedLenient) {
  // Stray, cut short, missing continuation; overlong; surrogate, above U+10FFFF.
  std::u16string out;
  for (const char* text : {"\x80", "\xC3", "\xE2\x82", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
                           "\xED\xA0\x80", "\xF4\x90\x80\x80"})
    EXPECT_FALSE(utf8ToUtf16(text, out)) << text;
  EXPECT_EQ(utf8ToUtf16Lenient(std::string("a\xE2\x82") + "b"), u"a\uFFFD\uFFFDb");
  EXPECT_EQ(utf8ToUtf16Lenient("\xED\xA0\x80z"), u"\uFFFD\uFFFD\uFFFDz");
}

// ASCII runs of every length next to every other kind of unit, in both directions of each neighbour, come out byte for
// byte; the lenient form appends behind what the output held.
TEST(Utf, AsciiRunsOfEveryLengthBesideOtherUnitsConvertExactly) {
  const std::pair<std::u16string, std::string> others[] = {
      {u"\u0080", "\xC2\x80"},
      {u"\u00E9", "\xC3\xA9"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, char16_t{0xD83D}), "#"},
      {std::u16string(1, char16_t{0xDE00}), "#"},
  };
  for (const auto& [unit, bytes] : others) {
    for (size_t run = 0; run < 40; ++run) {  // across blocks of 16 units
      const std::u16string ascii16(run, u'\x7F');
      const std::string ascii8(run, '\x7F');
      const std::u16string text = unit + ascii16 + unit + ascii16 + u"<" + unit;
      std::string out = "kept";
      appendUtf16AsUtf8Lenient(text, out);
      EXPECT_EQ(out, "kept" + bytes + ascii8 + bytes + ascii8 + "<" + bytes) << run;
      if (bytes != "#") {
        ASSERT_TRUE(utf16ToUtf8(text, out));
        EXPECT_EQ(out, bytes + ascii8 + bytes + ascii8 + "<" + bytes) << run;
      }
    }
  }
}

// Keys compared eight bytes at a time: a difference in any code unit, in a
// whole word or in the tail, and a difference of length alone, are seen.
TEST(Utf, KeysOfEveryLengthDifferingAnywhereAreUnequal) {
  for (size_t length = 0; length <= 13; ++length) {
    const std::u16string key(length, u'k');
    EXPECT_TRUE(u16Equal(key, std::u16string(key)));
    EXPECT_FALSE(u16Equal(key, key + u'k'));
    for (size_t at = 0; at < length; ++at) {
      std::u16string other = key;
      other[at] = u'\x16B';  // the same low byte as 'k'
      EXPECT_FALSE(u16Equal(key, other)) << "length " << length << ", at " << at;
    }
  }
}
