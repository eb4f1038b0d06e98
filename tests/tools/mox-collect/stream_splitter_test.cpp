#include "stream_splitter.h"

#include <gtest/gtest.h>

#include "sample_stream.h"

namespace {

using collecttest::sampleStream;
using collecttest::Split;
using collecttest::splitChunks;

const std::string kGood = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />";

// The stream cut at every byte boundary into two pieces, and into pieces of
// every length from 1 to 7, gives exactly what the whole stream gives.
void expectSameAtEveryCut(const std::string& stream, const Split& whole, size_t maxElementBytes = 1u << 20) {
  std::vector<std::vector<std::string>> runs;
  for (size_t cut = 0; cut <= stream.size(); ++cut) runs.push_back({stream.substr(0, cut), stream.substr(cut)});
  for (size_t size = 1; size <= 7; ++size) {
    runs.emplace_back();
    for (size_t at = 0; at < stream.size(); at += size) runs.back().push_back(stream.substr(at, size));
  }
  for (const auto& chunks : runs) {
    const Split split = splitChunks(chunks, maxElementBytes);
    ASSERT_EQ(split.elements, whole.elements) << "first chunk " << chunks[0].size() << " of " << chunks.size();
    ASSERT_EQ(split.raws, whole.raws) << "first chunk " << chunks[0].size() << " of " << chunks.size();
    ASSERT_EQ(split.errors, whole.errors) << "first chunk " << chunks[0].size() << " of " << chunks.size();
  }
}

TEST(StreamSplitter, SplitsEveryKindOfLineWithExactBytesAndUnescapedValuesWhereverTheStreamIsCut) {
  const std::string stream = sampleStream();
  const Split whole = splitChunks({stream});
  ASSERT_EQ(whole.elements.size(), 10u);
  EXPECT_EQ(whole.errors, 0u);
  EXPECT_FALSE(whole.unfinished);
  std::string joined;
  for (const auto& raw : whole.raws) joined += raw + "\n";
  EXPECT_EQ(joined, stream);  // nothing lost, nothing added
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

TEST(StreamSplitter, DropsOnlyTheBadElementAndResumesAfterItsLine) {
  const std::string huge = "<event resource=\"A|b\"><param name=\"big\" value=\"" + std::string(500, 'x') + "\" />";
  struct Case {
    const char* what;
    std::string bad;
  } cases[] = {
      {"unescaped &", "<event resource=\"A|b\"><param name=\"q\" value=\"x & y\" /></event>"},
      {"unescaped <", "<metric type=\"IntAverage\" name=\"a<b\" value=\"1\" />"},
      {"stray quote", "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Active Counter\" value=\"1\"\" />"},
      {"end of the synthetic root", "</mox-stream>"},
      {"XML declaration", "<?xml version=\"1.0\"?>"},
      {"end tag without start", "</metric>"},
      {"complete but too long", huge + "</event>"},
      {"open and too long", huge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string stream = c.bad + "\n" + kGood + "\n" + c.bad + "\n" + kGood + "\n";
    const Split whole = splitChunks({stream}, 300);
    EXPECT_EQ(whole.raws, std::vector<std::string>(2, kGood));
    EXPECT_EQ(whole.errors, 2u);
    expectSameAtEveryCut(stream, whole, 300);
  }
}

TEST(StreamSplitter, ReportsAnElementCutOffByTheEndOfTheStream) {
  const std::string stream = sampleStream();
  const size_t traceStart = stream.find("<event");
  struct Case {
    std::string text;
    bool unfinished;
  } cases[] = {
      {stream + "  \n", false},
      {stream.substr(0, traceStart), false},
      {stream.substr(0, traceStart + 1), true},                   // "<" alone
      {stream.substr(0, stream.find("<calledComponent")), true},  // open event
      {stream.substr(0, stream.size() - 3), true},                // inside "</event>"
  };
  for (const auto& c : cases) {
    const Split split = splitChunks({c.text});
    EXPECT_EQ(split.unfinished, c.unfinished) << c.text.size();
    EXPECT_EQ(split.elements.size(), c.unfinished || c.text.size() <= traceStart ? 9u : 10u) << c.text.size();
  }
}

}  // namespace
