// A splitter told not to keep the elements' bytes hands over the same trees
// with an empty text and says how long each element was, whichever way it
// read it (in a run, alone, or in pieces as it arrived); a record without its
// text still costs the queue what it would with it.
#include <gtest/gtest.h>

#include "collector_support.h"
#include "sink_writer.h"
#include "stream_splitter.h"

namespace {

using moxcollect::Element;
using moxcollect::StreamSplitter;

struct Seen {
  std::vector<std::string> names;
  std::vector<std::string> raws;
  std::vector<size_t> sizes;
};

Seen split(const std::string& stream, size_t piece, bool keepRaw) {
  Seen seen;
  StreamSplitter* self = nullptr;
  // Small elements are parsed whole, one of 200 bytes or more as it arrives.
  StreamSplitter splitter(
      [&](Element&& element, std::string&& raw) {
        seen.names.push_back(element.name + "/" + std::to_string(element.attributes.size()));
        seen.raws.push_back(raw);
        seen.sizes.push_back(self->elementBytes());
      },
      [](const std::string&, const std::string&) {}, moxcollect::ElementLimits(), 200);
  self = &splitter;
  splitter.keepRaw(keepRaw);
  for (size_t at = 0; at < stream.size(); at += piece) splitter.feed(std::string_view(stream).substr(at, piece));
  return seen;
}

TEST(RawText, NotKeptTheTextIsEmptyAndTheSizeStaysWhicheverWayTheElementWasRead) {
  const std::string longTrace =
      "<event resource=\"r\">" + collecttest::repeated("<param name=\"n\" value=\"v\" />", 20) + "</event>\n";
  const std::string stream = collecttest::sampleStream() + longTrace + collecttest::kLine + "\n";
  const std::vector<std::string> lines = collecttest::linesOf(stream);
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{100}, stream.size()}) {
    const Seen kept = split(stream, piece, true);
    const Seen notKept = split(stream, piece, false);
    ASSERT_EQ(kept.raws, lines) << "pieces of " << piece;
    EXPECT_EQ(notKept.names, kept.names) << "pieces of " << piece;
    EXPECT_EQ(notKept.raws, std::vector<std::string>(lines.size())) << "pieces of " << piece;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(kept.sizes[i], lines[i].size()) << "element " << i << ", pieces of " << piece;
      EXPECT_EQ(notKept.sizes[i], lines[i].size()) << "element " << i << ", pieces of " << piece;
    }
  }
}

TEST(RawText, ARecordWithoutItsTextCostsTheQueueWhatItWouldWithIt) {
  moxcollect::Record withText;
  withText.raw = collecttest::kLine;
  withText.bytes = collecttest::kLine.size();
  moxcollect::Record without;
  without.bytes = collecttest::kLine.size();
  EXPECT_EQ(moxcollect::SinkWriter::costOf(without), moxcollect::SinkWriter::costOf(withText));
  EXPECT_GT(moxcollect::SinkWriter::costOf(without), moxcollect::SinkWriter::costOf(moxcollect::Record()));
}

}  // namespace
