#include "stream_splitter.h"

#include <gtest/gtest.h>

#include "collector_support.h"

namespace {

using moxcollect::ElementLimits;

struct Split {
  std::vector<std::string> raws;
  std::vector<std::string> problems;
  size_t handedBeforeFinish = 0;
  bool unfinished = false;
};

ElementLimits limits(size_t maxBytes, size_t maxDepth = 10000, size_t maxMemory = 1u << 30) {
  ElementLimits out;
  out.maxBytes = maxBytes;
  out.maxDepth = maxDepth;
  out.maxMemory = maxMemory;
  return out;
}

// Feeds the chunks to one splitter and collects what it hands over.
Split splitChunks(const std::vector<std::string>& chunks, const ElementLimits& limit = limits(1u << 20),
                  size_t parseInPiecesFrom = moxcollect::StreamSplitter::kParseInPiecesFrom) {
  Split out;
  moxcollect::StreamSplitter splitter(
      [&](moxcollect::Element&&, std::string&& raw) { out.raws.push_back(raw); },
      [&](const std::string& problem, const std::string&) { out.problems.push_back(problem); }, limit,
      parseInPiecesFrom);
  for (const auto& chunk : chunks) splitter.feed(chunk);
  out.handedBeforeFinish = out.raws.size();
  out.unfinished = splitter.finish();
  return out;
}

// The stream cut at every byte boundary into two pieces, and into pieces of
// every length from 1 to 7, gives exactly what the whole stream gives, also
// when every element is parsed as it arrives rather than once complete.
void expectSameAtEveryCut(const std::string& stream, const Split& whole,
                          const ElementLimits& limit = limits(1u << 20)) {
  std::vector<std::vector<std::string>> runs;
  for (size_t cut = 0; cut <= stream.size(); ++cut) runs.push_back({stream.substr(0, cut), stream.substr(cut)});
  for (size_t size = 1; size <= 7; ++size) {
    runs.emplace_back();
    for (size_t at = 0; at < stream.size(); at += size) runs.back().push_back(stream.substr(at, size));
  }
  for (const auto& chunks : runs) {
    for (const size_t parseInPiecesFrom : {moxcollect::StreamSplitter::kParseInPiecesFrom, size_t{0}}) {
      const Split split = splitChunks(chunks, limit, parseInPiecesFrom);
      ASSERT_EQ(std::make_pair(split.raws, split.problems), std::make_pair(whole.raws, whole.problems))
          << "first chunk " << chunks[0].size() << " of " << chunks.size() << ", in pieces from " << parseInPiecesFrom;
    }
  }
}

TEST(StreamSplitter, HandsOverEveryElementWithItsExactBytesWhereverTheStreamIsCut) {
  const std::string stream = collecttest::sampleStream();
  const Split whole = splitChunks({stream});
  EXPECT_EQ(whole.raws, collecttest::linesOf(stream));  // nothing lost, nothing added
  expectSameAtEveryCut(stream, whole);

  // Every prefix: the elements complete in it, each handed over with its last byte (a peer
  // may go quiet there), and whether it ends inside the next one.
  for (size_t cut = 0, complete = 0, next = 0; cut <= stream.size(); ++cut) {
    if (complete < whole.raws.size() && cut == next + whole.raws[complete].size()) next = cut + 1, ++complete;
    for (const size_t from : {moxcollect::StreamSplitter::kParseInPiecesFrom, size_t{0}}) {
      const Split prefix = splitChunks({stream.substr(0, cut)}, limits(1u << 20), from);
      ASSERT_TRUE(prefix.handedBeforeFinish == complete && prefix.raws.size() == complete &&
                  prefix.unfinished == (cut > next))
          << cut << " in pieces from " << from;
    }
  }
}

TEST(StreamSplitter, DropsOnlyTheBadElementAndResumesAfterItsLine) {
  const std::string good = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />";
  const std::string huge = "<event resource=\"A|b\"><param name=\"big\" value=\"" + std::string(500, 'x') + "\" />";
  std::string children, attributes;
  for (int i = 0; i < 20; ++i) children += "<a/>", attributes += " a" + std::to_string(i) + "=''";
  // what, the bad element, a piece of the problem reported
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"unescaped &", "<event resource=\"A|b\"><param name=\"q\" value=\"x & y\" /></event>", "not well-formed"},
      {"stray quote", "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Active Counter\" value=\"1\"\" />", "no space"},
      {"end of a synthetic root", "</mox-stream>", "end tag without a start tag"},
      {"end tag without start", "</metric>", "end tag without a start tag"},
      {"end tag of another element", "<event resource=\"A|b\"><param name=\"q\" value=\"1\"></event>",
       "does not match"},
      {"text outside an element", "stray text", "text outside an element"},
      {"'<' in a value", "<metric name=\"a<b\" value=\"1\" />", "'<' in an attribute value"},
      {"undefined entity", "<metric name=\"&x;\" />", "undefined entity"},
      {"repeated attribute", "<metric a=\"1\" a=\"2\" />", "duplicate attribute"},
      {"bad name", "<1metric />", "not well-formed"},
      {"declaration outside", "<!DOCTYPE metric>", "not an element"},
      {"declaration inside", "<event><!DOCTYPE x></event>", "bad declaration"},
      {"instruction outside", "<?xml version=\"1.0\"?>", "not an element"},
      {"complete but too long", huge + "</event>", "longer than 300 bytes"},
      {"open and too long", huge, "longer than 300 bytes"},
      {"too deep", "<event><a><b><c><d/></c></b></a></event>", "nested deeper than 4 levels"},
      {"over its memory", "<metric>" + children + "</metric>", "more than 1500 bytes of memory"},
      {"empty and over its memory", "<metric" + attributes + "/>", "more than 1500 bytes of memory"},
  };
  for (const auto& [what, bad, problem] : cases) {
    SCOPED_TRACE(what);
    const ElementLimits limit = limits(300, 4, 1500);
    const std::string stream = bad + "\n" + good + "\n" + bad + "\n" + good + "\n";
    const Split whole = splitChunks({stream}, limit);
    EXPECT_EQ(whole.raws, std::vector<std::string>(2, good));
    ASSERT_EQ(whole.problems.size(), 2u);
    EXPECT_NE(whole.problems[0].find(problem), std::string::npos) << whole.problems[0];
    expectSameAtEveryCut(stream, whole, limit);
  }
}

TEST(StreamSplitter, FindsTheEndOfElementsWhoseMarkupHidesTagsAndParsesThemWhole) {
  // Each one element, whatever it holds that looks like the end of one.
  const std::string elements[] = {
      "<event resource=\"A|b\"><!-- </event> -> --><param name=\"q\" value=\"1\" /></event>",
      "<event resource=\"A|b\"><![CDATA[</event> ]] ]>]]></event>",
      "<event resource=\"A|b\"><?note </event> ? >?></event>",
      "<event resource='a/>b\"&gt;' \n\t duration = \"1\" ><a><a></a></a></event  >",
      "<event resource=\"A|b\">text > with &amp; markup-like &lt;/event&gt;</event>",
      "<metric\nname=\"x\"\n/>",
  };
  std::string stream;
  for (const std::string& element : elements) stream += element + "\n";
  const Split whole = splitChunks({stream});
  EXPECT_EQ(whole.raws, std::vector<std::string>(std::begin(elements), std::end(elements)));
  EXPECT_TRUE(whole.problems.empty());
  expectSameAtEveryCut(stream, whole);

  const auto records = collecttest::recordsOf(elements[3] + "\n");
  ASSERT_EQ(records.size(), 1u);
  const moxcollect::Element& event = records[0].element;
  EXPECT_EQ(*event.attribute("resource"), "a/>b\">");
  EXPECT_EQ(*event.attribute("duration"), "1");
  ASSERT_EQ(event.children.size(), 1u);
  EXPECT_EQ(event.children[0].children.size(), 1u);
}

}  // namespace
