#include "stream_splitter.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "collector_support.h"

namespace {

using moxcollect::Element;
using moxcollect::ElementLimits;
using moxcollect::StreamSplitter;
constexpr size_t kInPiecesFrom = StreamSplitter::kParseInPiecesFrom;

std::string describe(const Element& e) {
  std::string text = "<" + e.name;
  for (const auto& [name, value] : e.attributes) text += " " + name + "=" + value;
  text += ">";
  for (const Element& child : e.children) text += describe(child);
  return text + "</>";
}

struct Split {
  std::vector<std::string> trees, raws, problems, excerpts;
  std::vector<size_t> sizes;  // the element's bytes as the splitter says while handing it over
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
                  size_t parseInPiecesFrom = kInPiecesFrom, bool keepRaw = true) {
  Split out;
  StreamSplitter* self = nullptr;
  StreamSplitter splitter(
      [&](Element&& element, std::string&& raw) {
        out.trees.push_back(describe(element));
        out.raws.push_back(raw);
        out.sizes.push_back(self->elementBytes());
      },
      [&](const std::string& problem, const std::string& excerpt) {
        out.problems.push_back(problem);
        out.excerpts.push_back(excerpt);
      },
      limit, parseInPiecesFrom);
  self = &splitter;
  splitter.keepRaw(keepRaw);
  for (const auto& chunk : chunks) splitter.feed(chunk);
  out.handedBeforeFinish = out.raws.size();
  out.unfinished = splitter.finish();
  return out;
}

std::vector<std::string> pieces(const std::string& stream, size_t size) {
  std::vector<std::string> out;
  for (size_t at = 0; at < stream.size(); at += size) out.push_back(stream.substr(at, size));
  return out;
}

// The stream cut at every byte boundary into two pieces, and into pieces of every length from 1 to 7,
// gives exactly what the whole stream gives, also when every element is parsed as it arrives rather
// than once complete, and with the same trees and sizes but empty texts when the bytes are not kept.
void expectSameAtEveryCut(const std::string& stream, const Split& whole,
                          const ElementLimits& limit = limits(1u << 20)) {
  std::vector<std::vector<std::string>> runs;
  for (size_t cut = 0; cut <= stream.size(); ++cut) runs.push_back({stream.substr(0, cut), stream.substr(cut)});
  for (size_t size = 1; size <= 7; ++size) runs.push_back(pieces(stream, size));
  const std::pair<size_t, bool> modes[] = {{kInPiecesFrom, true}, {0, true}, {0, false}};
  for (const auto& chunks : runs) {
    for (const auto& [from, keep] : modes) {
      const Split split = splitChunks(chunks, limit, from, keep);
      ASSERT_TRUE(split.trees == whole.trees && split.sizes == whole.sizes && split.problems == whole.problems &&
                  split.raws == (keep ? whole.raws : std::vector<std::string>(whole.raws.size())))
          << "first chunk " << chunks[0].size() << " of " << chunks.size() << ", in pieces from " << from
          << (keep ? "" : ", bytes not kept");
    }
  }
}

TEST(StreamSplitter, HandsOverEveryElementWithItsExactBytesWhereverTheStreamIsCut) {
  // The library's lines, then elements holding what looks like the end of one.
  std::vector<std::string> elements = collecttest::linesOf(collecttest::sampleStream());
  elements.insert(
      elements.end(),
      {"<event resource=\"A|b\"><!-- </event> -> --><param name=\"q\" value=\"1\" /></event>",
       "<event resource=\"A|b\"><![CDATA[</event> ]] ]>]]></event>",
       "<event resource=\"A|b\"><?note </event> ? >?></event>",
       "<event resource='a/>b\"&gt;' \n\t duration = \"1\" ><a><a></a></a></event  >",
       "<event resource=\"A|b\">text > with &amp; markup-like &lt;/event&gt;</event>", "<metric\nname=\"x\"\n/>"});
  std::string stream;
  for (const std::string& element : elements) stream += element + "\n";
  const Split whole = splitChunks({stream});
  EXPECT_EQ(whole.raws, elements);  // nothing lost, nothing added
  EXPECT_TRUE(whole.problems.empty());
  EXPECT_EQ(whole.trees[11], "<event resource=a/>b\"> duration=1><a><a></></></>");
  for (size_t i = 0; i < whole.raws.size(); ++i) EXPECT_EQ(whole.sizes[i], whole.raws[i].size());
  expectSameAtEveryCut(stream, whole);

  // Every prefix: the elements complete in it, each handed over with its last byte (a peer
  // may go quiet there), and whether it ends inside the next one.
  for (size_t cut = 0, complete = 0, next = 0; cut <= stream.size(); ++cut) {
    if (complete < whole.raws.size() && cut == next + whole.raws[complete].size()) next = cut + 1, ++complete;
    for (const size_t from : {kInPiecesFrom, size_t{0}}) {
      const Split prefix = splitChunks({stream.substr(0, cut)}, limits(1u << 20), from);
      ASSERT_TRUE(prefix.handedBeforeFinish == complete && prefix.raws.size() == complete &&
                  prefix.unfinished == (cut > next))
          << cut << " in pieces from " << from;
    }
  }
}

TEST(StreamSplitter, DropsOnlyTheBadElementAndResumesAfterItsLine) {
  const std::string good = collecttest::kLine;
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

std::string manyLines(size_t count) {
  std::string stream;
  for (size_t i = 0; i < count; ++i) {
    stream += "<metric type=\"IntAverage\" name=\"S|p_1|A|m" + std::to_string(i) + ":Finished Counter\" value=\"" +
              std::to_string(i) + "\" />\n";
  }
  return stream;
}

// Elements that arrive together are parsed together, many per call to the parser: trees, bytes,
// refusals and what is skipped after them equal what the same stream gives one byte at a time.
TEST(StreamSplitter, ElementsReadTogetherEqualElementsReadAlone) {
  const std::string bigAttribute(600, 'v');
  const std::vector<std::pair<const char*, std::string>> streams = {
      // Longer than a run in count and in bytes, with a trace tree between.
      {"many", manyLines(700) + collecttest::sampleStream() + manyLines(300)},
      // Refused by the parser, not by the framer: the rest of its line goes, the next line is read.
      {"parser refusal",
       manyLines(3) + "<a x=\"1\" x=\"2\"/> <b/>\n<c/><d y='&bad;'/><e/>\n" + manyLines(2) + "<f/>\t<g>&#0;</g>\n<h/>"},
      // Each element has its own memory budget, also in the middle of a run.
      {"budget", manyLines(2) + "<a v=\"" + bigAttribute + "\"/><b v=\"" + bigAttribute + "\"/>\n<c/><d/>\n" +
                     "<e v=\"" + bigAttribute + bigAttribute + "\"/><f/>\n<g/>"},
      // Refused by the framer after a run: the run comes out first.
      {"framer refusal", manyLines(3) + "<a/><b>text</c>\n<d/>x<e/>\n<f/>"},
  };
  const ElementLimits smallMemory = limits(ElementLimits().maxBytes, 10000, 2000);
  for (const auto& [what, stream] : streams) {
    SCOPED_TRACE(what);
    const Split alone = splitChunks(pieces(stream, 1), smallMemory);
    EXPECT_FALSE(alone.trees.empty());
    for (const size_t size : {stream.size(), size_t{4096}}) {
      const Split together = splitChunks(pieces(stream, size), smallMemory);
      EXPECT_TRUE(together.trees == alone.trees && together.raws == alone.raws && together.problems == alone.problems);
    }
  }
  const Split refused = splitChunks({streams[1].second}, smallMemory);
  EXPECT_EQ(refused.problems.size(), 3u);
  // A refused element of a run shows in its excerpt with what follows it, as one read alone does.
  EXPECT_EQ(refused.excerpts[1],
            "<d y='&bad;'/><e/>\\x0a<metric type=\"IntAverage\" name=\"S|p_1|A|m0:Finished Counter\" ");
  EXPECT_EQ(splitChunks(pieces(streams[2].second, 1), smallMemory).problems.size(), 2u);
}

TEST(StreamSplitter, AHandlerThatThrowsLosesTheRestOfItsInputAndTheSplitterGoesOn) {
  std::vector<std::string> raws;
  std::vector<std::string> problems;
  StreamSplitter splitter(
      [&](Element&&, std::string&& raw) {
        if (raw == "<stop/>") throw std::runtime_error("handler failed");
        raws.push_back(raw);
      },
      [&](const std::string& problem, const std::string&) { problems.push_back(problem); });
  // The run ends at an element that is not complete yet: the framer had gone past the run.
  EXPECT_THROW(splitter.feed("<a/><stop/><b/>\n<c v=\"unfinished"), std::runtime_error);
  EXPECT_EQ(raws, std::vector<std::string>({"<a/>"}));
  splitter.feed("\n<d/><e/>");
  EXPECT_EQ(raws, std::vector<std::string>({"<a/>", "<d/>", "<e/>"}));
  // The tail of the unfinished element was not taken for a new one: it is text outside an element.
  EXPECT_EQ(problems, std::vector<std::string>({}));
  EXPECT_FALSE(splitter.finish());
}

TEST(StreamSplitter, AHandlerMayFeedAnotherSplitterOnTheSameThread) {
  std::vector<std::string> inner;
  StreamSplitter second([&](Element&& e, std::string&& raw) { inner.push_back(describe(e) + raw); },
                        [](const std::string&, const std::string&) {});
  std::vector<std::string> outer;
  StreamSplitter first(
      [&](Element&& e, std::string&& raw) {
        outer.push_back(describe(e) + raw);
        second.feed("<in n=\"" + std::to_string(outer.size()) + "\"/><in2/>");
      },
      [](const std::string&, const std::string&) {});
  first.feed("<a x=\"1\"/><b/>\n<c/>");
  EXPECT_EQ(outer, std::vector<std::string>({"<a x=1></><a x=\"1\"/>", "<b></><b/>", "<c></><c/>"}));
  ASSERT_EQ(inner.size(), 6u);
  EXPECT_EQ(inner[4], "<in n=3></><in n=\"3\"/>");
  EXPECT_EQ(inner[5], "<in2></><in2/>");
}

}  // namespace
