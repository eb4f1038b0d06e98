// Host text of any code units comes back from a conforming XML 1.0 parser as the host text, with
// what XML 1.0 cannot carry replaced by U+FFFD; every line parses.
#include <set>
#include <tuple>

#include "e2e/e2e_support.h"
#include "e2e/xml_elements.h"

namespace {

using e2e::LibraryTest;

// The Char production of XML 1.0.
bool isXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, char32_t c) {
  auto byte = [&](char32_t b) { out.push_back(static_cast<char>(b)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6)), byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12)), byte(0x80 | ((c >> 6) & 0x3F)), byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18)), byte(0x80 | ((c >> 12) & 0x3F)), byte(0x80 | ((c >> 6) & 0x3F)), byte(0x80 | (c & 0x3F));
  }
}

// What the parser should deliver for host text, in UTF-8: a surrogate pair as its character, every
// other code unit as itself when XML 1.0 allows it, else U+FFFD.
std::string readBack(const std::u16string& host) {
  std::string out;
  for (size_t i = 0; i < host.size(); ++i) {
    char32_t c = host[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < host.size() && host[i + 1] >= 0xDC00 && host[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (host[++i] - 0xDC00u);
    }
    appendUtf8(out, isXmlChar(c) ? c : char32_t{0xFFFD});
  }
  return out;
}

// Every code unit but U+0000 (it ends a host string), 256 consecutive ones to a text (so runs of
// lone surrogates, markup and every control character), then the surrogate combinations.
std::vector<std::u16string> hostTexts() {
  std::vector<std::u16string> texts;
  for (char32_t block = 0; block < 0x10000; block += 0x100) {
    std::u16string text;
    for (char32_t c = block == 0 ? 1 : block; c < block + 0x100; ++c) text += static_cast<char16_t>(c);
    texts.push_back(text);
  }
  const char16_t high = 0xD800, low = 0xDC00;
  for (std::u16string combination : {std::u16string{u'a', high, u'b'},      // lone high
                                     std::u16string{u'a', high},            // lone high at the end
                                     std::u16string{high},                  // nothing but a lone high
                                     std::u16string{low, u'b'},             // lone low at the start
                                     std::u16string{u'a', low, u'b'},       // lone low
                                     std::u16string{u'a', low, high},       // reversed pair
                                     std::u16string{high, high, low},       // high before a pair
                                     std::u16string{high, low, low},        // low after a pair
                                     std::u16string{u'a', 0xDBFF, 0xDFFF},  // pair at the end
                                     std::u16string{0xD83D, 0xDE00, u'b'},  // pair at the start
                                     std::u16string{u'\x1b', 0xFFFE, u'\x01', 0xFFFF}}) {
    texts.push_back(combination);
  }
  return texts;
}

TEST_F(LibraryTest, EveryLineIsWellFormedXmlForAnyHostText) {
  initWith({{"trace_enabled_via_em", "1"}, {"tracecheck_interval", "0"}, {"system_name", "Sys&<Co>"}});
  const std::u16string instancePrefix{u'p', 0x01, 0xDC00, u'<', 0xFFFE};
  MOX_setInstancePrefix(instancePrefix.c_str());
  const std::vector<std::u16string> texts = hostTexts();
  // One traced unit of work per text, the text in every place host text goes.
  for (const std::u16string& text : texts) {
    const mox_char* t = text.c_str();
    MOX_initContext(t);
    const uint32_t call = MOX_startTiming(t, t, 1);
    MOX_appendInfo(call, (u"n" + text).c_str(), t);
    MOX_appendPassportInfo(call, t, 0);
    MOX_appendContextInfo((u"c" + text).c_str(), t);
    MOX_endTiming(call);
    MOX_reportResource(t, 1, 1, 1, 1, 0);
    MOX_reportResourceKPI(t, t, 1);
  }
  // What the sweep does not reach: a nested call, parameter and user texts, names cut to their buffer (a cut inside a
  // surrogate pair takes the whole pair).
  MOX_initContext(u"plain");
  const uint32_t outer = MOX_startTiming(u"Comp\"x", u"m<&>", 1);
  MOX_endTiming(MOX_startTiming(u"Db", u"q\"1\"", 1));
  MOX_appendParameterInfo(outer, u"<p>", u"say \"<hi>\" & go\nnext");
  MOX_appendParameterInfo(outer, std::u16string(240, u'n').c_str(), u"v");
  MOX_appendParameterInfo(outer, (std::u16string(232, u's') + u"\U0001F600tail").c_str(), u"w");
  MOX_appendUserID(u"\"quoted\"\r\n");
  MOX_endTiming(outer);
  MOX_outputMetricData();

  using Param = std::tuple<std::string, std::string>;  // name, value
  std::set<Param> params;
  std::set<std::string> resources, metricNames;
  size_t events = 0;
  for (const std::string& line : e2e::lines(metricFile())) {
    std::vector<e2e::Element> elements;
    ASSERT_TRUE(e2e::parseLine(line, elements)) << line.substr(0, 300);
    for (auto& [name, attributes] : elements) {
      if (name == "metric") metricNames.insert(attributes["name"]);
      if (name == "param") params.emplace(attributes["name"], attributes["value"]);
      if (name == "event") ++events;
      if (name == "event" || name == "calledComponent") resources.insert(attributes["resource"]);
    }
  }
  EXPECT_EQ(events, texts.size() + 1) << "one line per unit of work";
  EXPECT_EQ(metricNames.count("Sys&<Co>|e2e_0:MOX library version"), 1u);
  const std::string prefix = "Sys&<Co>|e2e_0|" + readBack(instancePrefix) + "|";
  for (const std::string key : {"Comp\"x|m<&>", "Db|q\"1\""}) {
    EXPECT_EQ(resources.count(key), 1u);
    EXPECT_EQ(metricNames.count(prefix + key + ":Finished Counter"), 1u) << key;
  }
  for (const Param& p :
       {Param{"Method Call Parameter <p>", "say \"<hi>\" & go\nnext"},
        Param{"Method Call Parameter " + std::string(233, 'n'), "v"},
        Param{"Method Call Parameter " + std::string(232, 's'), "w"}, Param{"User ID", "\"quoted\"\r\n"}}) {
    EXPECT_EQ(params.count(p), 1u) << std::get<0>(p);
  }
  for (const std::u16string& text : texts) {
    const std::string t = readBack(text);
    SCOPED_TRACE("host text starting with code unit " + std::to_string(int(text[0])));
    EXPECT_EQ(resources.count(t + "|" + t), 1u);
    for (const Param& p : {Param{readBack(u"n" + text), t}, Param{readBack(u"c" + text), t},
                           Param{"outbound.VEL-PASSPORT", t}, Param{"client.header.VEL-PASSPORT", t}}) {
      EXPECT_EQ(params.count(p), 1u) << std::get<0>(p);
    }
    for (const std::string& name :
         {prefix + t + "|" + t + ":Finished Counter", prefix + t + ":Current Value", prefix + t + ":" + t}) {
      EXPECT_EQ(metricNames.count(name), 1u) << name;
    }
  }
}

}  // namespace
