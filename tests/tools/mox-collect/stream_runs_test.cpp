// Elements that arrive together are parsed together, many per call to the
// parser: what comes out (trees, bytes, refusals and what is skipped after
// them) equals what the same stream gives one byte at a time, where every
// element is parsed alone.
#include <gtest/gtest.h>

#include <stdexcept>

#include "collector_support.h"
#include "stream_splitter.h"

namespace {

using moxcollect::Element;
using moxcollect::ElementLimits;
using moxcollect::StreamSplitter;

std::string describe(const Element& e) {
  std::string text = "<" + e.name;
  for (const auto& [name, value] : e.attributes) text += " " + name + "=" + value;
  text += ">";
  for (const Element& child : e.children) text += describe(child);
  return text + "</>";
}

struct Outcome {
  std::vector<std::string> elements;  // tree and bytes of each
  std::vector<std::string> problems;
  std::vector<std::string> excerpts;  // which show as much of the input as the piece holds
};

void expectSame(const Outcome& got, const Outcome& expected, const char* what) {
  EXPECT_EQ(got.elements, expected.elements) << what;
  EXPECT_EQ(got.problems, expected.problems) << what;
}

ElementLimits smallMemory() {
  ElementLimits limits;
  limits.maxMemory = 2000;
  return limits;
}

Outcome split(const std::string& stream, size_t piece, const ElementLimits& limits = ElementLimits()) {
  Outcome out;
  StreamSplitter splitter(
      [&](Element&& element, std::string&& raw) { out.elements.push_back(describe(element) + raw); },
      [&](const std::string& problem, const std::string& excerpt) {
        out.problems.push_back(problem);
        out.excerpts.push_back(excerpt);
      },
      limits);
  for (size_t at = 0; at < stream.size(); at += piece) splitter.feed(std::string_view(stream).substr(at, piece));
  splitter.finish();
  return out;
}

std::string manyLines(size_t count) {
  std::string stream;
  for (size_t i = 0; i < count; ++i) {
    stream += "<metric type=\"IntAverage\" name=\"S|p_1|A|m" + std::to_string(i) + ":Finished Counter\" value=\"" +
              std::to_string(i) + "\" />\n";
  }
  return stream;
}

TEST(StreamRuns, ElementsReadTogetherEqualElementsReadAlone) {
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
  for (const auto& [what, stream] : streams) {
    const Outcome alone = split(stream, 1, smallMemory());
    EXPECT_FALSE(alone.elements.empty()) << what;
    expectSame(split(stream, stream.size(), smallMemory()), alone, what);
    expectSame(split(stream, 4096, smallMemory()), alone, what);
  }
  const Outcome refused = split(streams[1].second, streams[1].second.size(), smallMemory());
  EXPECT_EQ(refused.problems.size(), 3u);
  // A refused element of a run shows in its excerpt with what follows it, as one read alone does.
  EXPECT_EQ(refused.excerpts[1],
            "<d y='&bad;'/><e/>\\x0a<metric type=\"IntAverage\" name=\"S|p_1|A|m0:Finished Counter\" ");
  EXPECT_EQ(split(streams[2].second, 1, smallMemory()).problems.size(), 2u);
}

TEST(StreamRuns, AHandlerThatThrowsLosesTheRestOfItsInputAndTheSplitterGoesOn) {
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

TEST(StreamRuns, AHandlerMayFeedAnotherSplitterOnTheSameThread) {
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
