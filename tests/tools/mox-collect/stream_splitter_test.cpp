#include "stream_splitter.h"

#include <gtest/gtest.h>

#include "sample_stream.h"

namespace {

using collecttest::sampleStream;
using collecttest::Split;
using collecttest::splitChunks;

std::string joinedRaws(const Split& split) {
  std::string out;
  for (const auto& raw : split.raws) out += raw + "\n";
  return out;
}

// The stream cut at every byte boundary into two pieces, and into pieces of
// every length from 1 to 7, gives exactly the records of the whole stream.
void expectSameAtEveryCut(const std::string& stream, const Split& whole, size_t maxElementBytes = 1u << 20) {
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    const Split split = splitChunks({stream.substr(0, cut), stream.substr(cut)}, maxElementBytes);
    ASSERT_EQ(split.elements, whole.elements) << "cut at byte " << cut;
    ASSERT_EQ(split.raws, whole.raws) << "cut at byte " << cut;
    ASSERT_EQ(split.errors.size(), whole.errors.size()) << "cut at byte " << cut;
  }
  for (size_t size = 1; size <= 7; ++size) {
    std::vector<std::string> chunks;
    for (size_t at = 0; at < stream.size(); at += size) chunks.push_back(stream.substr(at, size));
    const Split split = splitChunks(chunks, maxElementBytes);
    ASSERT_EQ(split.elements, whole.elements) << "pieces of " << size;
    ASSERT_EQ(split.raws, whole.raws) << "pieces of " << size;
  }
}

TEST(StreamSplitter, SplitsEveryKindOfLineWithExactBytesAndUnescapedValues) {
  const std::string stream = sampleStream();
  const Split whole = splitChunks({stream});
  ASSERT_EQ(whole.elements.size(), 10u);
  EXPECT_TRUE(whole.errors.empty());
  EXPECT_FALSE(whole.unfinished);
  EXPECT_EQ(joinedRaws(whole), stream);  // nothing lost, nothing added
  EXPECT_EQ(whole.elements[0],
            "<metric type=[StringEvent] name=[VEL_MOX|disp_3:MOX library version] value=[2.3.6]></metric>");
  const std::string& trace = whole.elements[9];
  EXPECT_NE(trace.find("<calledComponent resource=[Db|select] offset=[4] duration=[40]>"
                       "<calledComponent resource=[Db|fetch] offset=[10] duration=[20]>"),
            std::string::npos);
  EXPECT_NE(trace.find("value=[a < b && c > \"d\"\nnext]"), std::string::npos);
  EXPECT_NE(trace.find("value=[Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC]"), std::string::npos);
  expectSameAtEveryCut(stream, whole);
}

TEST(StreamSplitter, DropsOnlyTheMalformedLineAndResumesAfterIt) {
  // Host text that was not escaped: a bare "&", a bare "<" and a stray quote.
  const std::string good = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />\n";
  const std::string stream =
      good + "<event resource=\"A|b\" startTime=\"t\" duration=\"1\"><param name=\"q\" value=\"x & y\" /></event>\n" +
      good + "<metric type=\"IntAverage\" name=\"a<b\" value=\"1\" />\n" + good +
      "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Active Counter\" value=\"1\"\" />\n" + good;
  const Split whole = splitChunks({stream});
  EXPECT_EQ(whole.elements.size(), 4u);
  EXPECT_EQ(whole.errors.size(), 3u);
  EXPECT_EQ(joinedRaws(whole), good + good + good + good);
  expectSameAtEveryCut(stream, whole);
}

TEST(StreamSplitter, RecoversFromMarkupThatWouldEndTheStream) {
  // A closing tag of the synthetic root, an XML declaration and a closing tag
  // with no opening one would each end a plain XML document.
  const std::string good = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />\n";
  const std::string stream = "</mox-stream>\n" + good + "<?xml version=\"1.0\"?>\n" + good + "</metric>\n" + good;
  const Split whole = splitChunks({stream});
  EXPECT_EQ(whole.raws, std::vector<std::string>(3, good.substr(0, good.size() - 1)));
  EXPECT_EQ(whole.errors.size(), 3u);
  expectSameAtEveryCut(stream, whole);
}

TEST(StreamSplitter, DropsAnElementLongerThanTheLimitAndKeepsTheRest) {
  const std::string good = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />\n";
  const std::string huge = "<event resource=\"A|b\" startTime=\"t\" duration=\"1\"><param name=\"big\" value=\"" +
                           std::string(500, 'x') + "\" /></event>\n";
  const std::string stream = good + huge + good;
  const Split whole = splitChunks({stream}, 300);
  EXPECT_EQ(whole.elements.size(), 2u);
  EXPECT_EQ(whole.errors.size(), 1u);
  expectSameAtEveryCut(stream, whole, 300);
}

TEST(StreamSplitter, ReportsAnElementCutOffByTheEndOfTheStream) {
  const std::string stream = sampleStream();
  const size_t traceStart = stream.find("<event");
  struct Case {
    std::string text;
    bool unfinished;
  } cases[] = {
      {stream, false},
      {stream + "  \n", false},
      {stream.substr(0, traceStart), false},
      {stream.substr(0, traceStart + 1), true},                   // "<" alone
      {stream.substr(0, stream.find("<calledComponent")), true},  // open event
      {stream.substr(0, stream.size() - 3), true},                // inside "</event>"
  };
  for (const auto& c : cases) {
    const Split split = splitChunks({c.text});
    EXPECT_EQ(split.unfinished, c.unfinished) << c.text.size();
    EXPECT_EQ(split.elements.size(), c.text.size() > traceStart && !c.unfinished ? 10u : 9u) << c.text.size();
  }
}

}  // namespace
