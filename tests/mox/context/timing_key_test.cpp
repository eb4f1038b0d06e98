#include "mox/context/timing_key.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// What a joined key answers, by the plain string operations.
bool joinedOfComponent(const std::u16string& key, const std::u16string& name) {
  return key.size() > name.size() && key.compare(0, name.size(), name) == 0 && key[name.size()] == u'|';
}

// The two parts answer as their joined key would: components and methods
// that hold the separator themselves, empty parts, names of every length.
TEST(TimingKey, PartsAnswerAsTheirJoinedKey) {
  const std::vector<std::pair<std::u16string, std::u16string>> keys = {
      {u"Order", u"create"}, {u"App|DB", u"x"}, {u"App", u"DB|x"},  {u"", u"m"},
      {u"C", u""},           {u"", u""},        {u"Db", u"select|"}};
  const std::vector<std::u16string> names = {u"",  u"App", u"App|DB",    u"App|DB|x", u"Order", u"Orde",
                                             u"C", u"Db",  u"Db|select", u"|",        u"DB"};
  for (const auto& [component, method] : keys) {
    const std::u16string joined = component + u"|" + method;
    const TimingKeyView split(component, method);
    SCOPED_TRACE(std::string(joined.begin(), joined.end()));
    EXPECT_EQ(split.size(), joined.size());
    EXPECT_EQ(split.str(), joined);
    EXPECT_TRUE(split.equals(joined));
    EXPECT_TRUE(TimingKeyView(joined).equals(joined));
    EXPECT_FALSE(split.equals(joined + u"x"));
    EXPECT_FALSE(split.equals(joined.substr(1)));
    for (size_t at = 0; at < joined.size(); ++at) {
      std::u16string other = joined;
      other[at] = u'#';
      EXPECT_FALSE(split.equals(other)) << "at " << at;
    }
    for (const std::u16string& name : names) {
      EXPECT_EQ(split.ofComponent(name), joinedOfComponent(joined, name)) << "name of size " << name.size();
      EXPECT_EQ(TimingKeyView(joined).ofComponent(name), joinedOfComponent(joined, name));
    }
  }
}

}  // namespace
