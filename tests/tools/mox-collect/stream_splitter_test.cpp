#include "stream_splitter.h"

#include <gtest/gtest.h>

#include "collector_support.h"

namespace {

struct Split {
  std::vector<std::string> raws;
  size_t errors = 0;
  bool unfinished = false;
};

// Feeds the chunks to one splitter and collects what it hands over.
Split splitChunks(const std::vector<std::string>& chunks, size_t maxElementBytes = 1u << 20) {
  Split out;
  moxcollect::StreamSplitter splitter([&](moxcollect::Element&&, std::string&& raw) { out.raws.push_back(raw); },
                                      [&](const std::string&, const std::string&) { ++out.errors; }, maxElementBytes);
  for (const auto& chunk : chunks) splitter.feed(chunk);
  out.unfinished = splitter.finish();
  return out;
}

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
    ASSERT_EQ(std::make_pair(split.raws, split.errors), std::make_pair(whole.raws, whole.errors))
        << "first chunk " << chunks[0].size() << " of " << chunks.size();
  }
}

TEST(StreamSplitter, HandsOverEveryElementWithItsExactBytesWhereverTheStreamIsCut) {
  const std::string stream = collecttest::sampleStream();
  const Split whole = splitChunks({stream});
  EXPECT_EQ(whole.raws, collecttest::linesOf(stream));  // nothing lost, nothing added
  expectSameAtEveryCut(stream, whole);

  // Every prefix: the elements complete in it, and whether it ends inside the next one.
  for (size_t cut = 0, complete = 0, next = 0; cut <= stream.size(); ++cut) {
    if (complete < whole.raws.size() && cut == next + whole.raws[complete].size()) next = cut + 1, ++complete;
    const Split prefix = splitChunks({stream.substr(0, cut)});
    ASSERT_TRUE(prefix.raws.size() == complete && prefix.unfinished == (cut > next)) << cut;
  }
}

TEST(StreamSplitter, DropsOnlyTheBadElementAndResumesAfterItsLine) {
  const std::string good = "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Finished Counter\" value=\"1\" />";
  const std::string huge = "<event resource=\"A|b\"><param name=\"big\" value=\"" + std::string(500, 'x') + "\" />";
  const std::pair<const char*, std::string> cases[] = {
      {"unescaped &", "<event resource=\"A|b\"><param name=\"q\" value=\"x & y\" /></event>"},
      {"stray quote", "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Active Counter\" value=\"1\"\" />"},
      {"end of the synthetic root", "</mox-stream>"},
      {"end tag without start", "</metric>"},
      {"complete but too long", huge + "</event>"},
      {"open and too long", huge},
  };
  for (const auto& [what, bad] : cases) {
    SCOPED_TRACE(what);
    const std::string stream = bad + "\n" + good + "\n" + bad + "\n" + good + "\n";
    const Split whole = splitChunks({stream}, 300);
    EXPECT_EQ(whole.raws, std::vector<std::string>(2, good));
    EXPECT_EQ(whole.errors, 2u);
    expectSameAtEveryCut(stream, whole, 300);
  }
}

}  // namespace
