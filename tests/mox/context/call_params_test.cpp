#include "mox/context/call_params.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

Pairs contents(const CallParams& params) {
  Pairs out;
  for (const auto& [name, value] : params) out.emplace_back(name, value);
  return out;
}

// U+FF01 sorts after the surrogate pair of U+1F600 in code units, though
// before it in code points.
const std::u16string kFullwidth = u"\xFF01";
const std::u16string kPair = u"\xD83D\xDE00";

TEST(CallParamsTest, NamesComeOutInCodeUnitOrderWhateverTheOrderAdded) {
  CallParams params;
  for (const std::u16string& name :
       {kFullwidth, std::u16string(u"b"), kPair, std::u16string(u"B"), std::u16string(u"")}) {
    ASSERT_EQ(params.find(name), nullptr);
    params.insert(name, u"v" + name);
  }
  EXPECT_EQ(contents(params),
            (Pairs{{u"", u"v"}, {u"B", u"vB"}, {u"b", u"vb"}, {kPair, u"v" + kPair}, {kFullwidth, u"v" + kFullwidth}}));
  ASSERT_NE(params.find(u"b"), nullptr);
  params.find(u"b")->append(u",2");
  EXPECT_EQ(*params.find(u"b"), u"vb,2");
  EXPECT_EQ(params.find(u"c"), nullptr);
}

TEST(CallParamsTest, ClearedParamsShowNothingOfTheirLastUse) {
  CallParams params;
  params.insert(u"z", u"old z");
  params.insert(u"m", std::u16string(CallParams::kKeptUnits + 1, u'm'));  // given back at clear
  params.insert(u"a", u"old a");
  params.clear();
  EXPECT_TRUE(params.empty());
  EXPECT_EQ(params.find(u"z"), nullptr);
  params.insert(u"y", u"");
  params.insert(u"a", u"new");
  EXPECT_EQ(contents(params), (Pairs{{u"a", u"new"}, {u"y", u""}}));
}

}  // namespace
