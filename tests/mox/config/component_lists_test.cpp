// Per-component list syntax and number reading.
#include <gtest/gtest.h>

#include "mox/config/component_lists.h"
#include "mox/config/number_reading.h"

namespace {

using Levels = std::map<std::u16string, uint16_t>;

TEST(ComponentListsTest, LevelsTakenByPosition) {
  // Metric and trace lists are walked independently against the same names.
  EXPECT_EQ(parseComponentLevels(u"P,Q,R,", u"5,,7,"), (Levels{{u"P", 5}, {u"R", 7}}));
  EXPECT_EQ(parseComponentLevels(u"P,Q,R,", u"1,"), (Levels{{u"P", 1}}));
  // Text after the last comma is not an element.
  EXPECT_EQ(parseComponentLevels(u"P,Q", u"3,4,"), (Levels{{u"P", 3}}));
  EXPECT_EQ(parseComponentLevels(u"P,", u"3"), Levels{});
  EXPECT_EQ(parseComponentLevels(u"P", u"3,"), Levels{});
}

TEST(ComponentListsTest, EmptyNamesConsumeNoLevel) {
  EXPECT_EQ(parseComponentLevels(u",P,,Q,", u"1,2,"), (Levels{{u"P", 1}, {u"Q", 2}}));
  // Once the levels run out, later names get nothing, even after an empty name.
  EXPECT_EQ(parseComponentLevels(u"A,B,,C,", u"1,"), (Levels{{u"A", 1}}));
}

TEST(ComponentListsTest, NamesKeepBlanksAndFirstLevel) {
  EXPECT_EQ(parseComponentLevels(u" P,P,P ,", u"1,2,3,"), (Levels{{u" P", 1}, {u"P", 2}, {u"P ", 3}}));
  EXPECT_EQ(parseComponentLevels(u"P,P,", u"4,9,"), (Levels{{u"P", 4}}));
  EXPECT_EQ(parseComponentLevels(u"P,Q,R,", u" 7x,-1,70000,"),
            (Levels{{u"P", 7}, {u"Q", 65535}, {u"R", 70000 - 65536}}));
}

TEST(ComponentListsTest, SkipNames) {
  using Names = std::vector<std::u16string>;
  EXPECT_EQ(parseSkipNames(u""), Names{});
  EXPECT_EQ(parseSkipNames(u"Only One"), (Names{u"Only One"}));
  EXPECT_EQ(parseSkipNames(u",A,,B"), (Names{u"A", u"B"}));
  EXPECT_EQ(parseSkipNames(u"A,B,"), (Names{u"A", u"B"}));
  EXPECT_EQ(parseSkipNames(u",,,"), Names{});
}

TEST(NumberReadingTest, BehavesLikeAtolWithWrapping) {
  EXPECT_EQ(readNumber(u""), 0u);
  EXPECT_EQ(readNumber(u"abc"), 0u);
  EXPECT_EQ(readNumber(u"-"), 0u);
  EXPECT_EQ(readNumber(u" \t\r\n+42xyz"), 42u);
  EXPECT_EQ(readNumber(u"7\r"), 7u);
  EXPECT_EQ(readNumber(u"-1"), 0xFFFFFFFFu);
  EXPECT_EQ(readNumber(u"1 2"), 1u);
  EXPECT_EQ(readNumber(u"--1"), 0u);
  EXPECT_EQ(readNumber(u"\u00A05"), 0u);             // only C white space is skipped
  EXPECT_EQ(readNumber(u"\uFF15"), 0u);              // only ASCII digits count
  EXPECT_EQ(readNumber(u"4294967296"), 0u);          // wraps modulo 2^32
  EXPECT_EQ(readNumber(u"99999999999999999999"), 1661992959u);  // (10^20 - 1) mod 2^32
}

}  // namespace
