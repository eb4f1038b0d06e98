// Per-component list syntax and number reading.
#include "mox/config/component_lists.h"

#include <gtest/gtest.h>

#include "mox/config/number_reading.h"

namespace {

using Levels = std::map<std::u16string, uint16_t>;

TEST(ComponentListsTest, LevelsTakenByPosition) {
  const struct {
    const char16_t* names;
    const char16_t* levels;
    Levels expected;
  } cases[] = {
      {u"P,Q,R,", u"5,,7,", {{u"P", 5}, {u"R", 7}}},
      {u"P,Q,R,", u"1,", {{u"P", 1}}},
      {u"P,Q", u"3,4,", {{u"P", 3}}},  // text after the last comma is not an element
      {u"P,", u"3", {}},
      {u",P,,Q,", u"1,2,", {{u"P", 1}, {u"Q", 2}}},  // empty names consume no level
      {u"A,B,,C,", u"1,", {{u"A", 1}}},
      {u" P,P,P ,", u"1,2,3,", {{u" P", 1}, {u"P", 2}, {u"P ", 3}}},  // blanks are kept
      {u"P,P,", u"4,9,", {{u"P", 4}}},                                // the first level wins
      {u"P,Q,R,", u" 7x,-1,70000,", {{u"P", 7}, {u"Q", 65535}, {u"R", 70000 - 65536}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseComponentLevels(c.names, c.levels), c.expected);
}

TEST(ComponentListsTest, SkipNames) {
  using Names = std::vector<std::u16string>;
  EXPECT_EQ(parseSkipNames(u"Only One"), (Names{u"Only One"}));
  EXPECT_EQ(parseSkipNames(u",A,,B,"), (Names{u"A", u"B"}));
  EXPECT_EQ(parseSkipNames(u",,,"), Names{});
}

TEST(NumberReadingTest, BehavesLikeAtolWithWrapping) {
  const std::pair<const char16_t*, uint32_t> cases[] = {
      {u"", 0},
      {u"abc", 0},
      {u" \t\r\n+42xyz", 42},
      {u"-1", 0xFFFFFFFFu},
      {u"1 2", 1},
      {u"--1", 0},
      {u"\u00A05", 0},  // only C white space is skipped
      {u"\uFF15", 0},   // only ASCII digits count
      {u"4294967296", 0},
      {u"99999999999999999999", 1661992959u},  // wraps modulo 2^32
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(readNumber(text), expected);
}

}  // namespace
