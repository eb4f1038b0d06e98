// The collector copies the elements' bytes into its records only when one of
// its sinks reads them; either way every record says how many there were.
#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "collector_support.h"
#include "sink_writer.h"
#include "support/test_files.h"

namespace {

using moxcollect::Record;
using TextAndSize = std::vector<std::pair<std::string, size_t>>;

class KeepingSink : public moxcollect::RecordSink {
 public:
  explicit KeepingSink(bool readsRaw) : readsRaw_(readsRaw) {}
  void write(const Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.emplace_back(record.raw, record.bytes);
  }
  bool readsRaw() const override { return readsRaw_; }
  TextAndSize kept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kept_;
  }

 private:
  const bool readsRaw_;
  mutable std::mutex mutex_;
  TextAndSize kept_;
};

// Sends the stream over one connection (in pieces of `piece` bytes) to a collector with these sinks.
void collect(const std::string& stream, size_t piece, const std::vector<KeepingSink*>& sinks) {
  std::ostringstream logText;
  moxcollect::Log log(logText);
  moxcollect::CollectorSettings settings;
  settings.listen = {{"127.0.0.1", 0}};
  moxcollect::Collector collector(settings, {sinks.begin(), sinks.end()}, log);
  ASSERT_TRUE(collector.open());
  auto running = std::async(std::launch::async, [&collector] { return collector.run(); });
  const size_t count = collecttest::linesOf(stream).size();
  {
    collecttest::Client client(collector.listeners().at(0).port());
    ASSERT_TRUE(client.send(stream, piece));
    ASSERT_TRUE(testsupport::waitUntil([&] { return sinks.back()->kept().size() == count; }));
  }
  collector.requestStop();
  EXPECT_TRUE(running.get());
}

TEST(RawText, KeptOnlyWhenASinkReadsItAndTheSizeAlways) {
  const std::string stream = collecttest::sampleStream() + collecttest::repeated(collecttest::kLine + "\n", 300);
  TextAndSize withText, sizeOnly;
  for (const std::string& line : collecttest::linesOf(stream)) {
    withText.emplace_back(line, line.size());
    sizeOnly.emplace_back("", line.size());
  }
  for (const size_t piece : {size_t{5}, stream.size()}) {
    SCOPED_TRACE(piece);
    KeepingSink blind(false);
    collect(stream, piece, {&blind});
    EXPECT_EQ(blind.kept(), sizeOnly);
    KeepingSink other(false), reader(true);
    collect(stream, piece, {&other, &reader});
    EXPECT_EQ(reader.kept(), withText);
    EXPECT_EQ(other.kept(), withText);
  }
  // A record without its text costs the queue what it would with it.
  Record without;
  without.bytes = collecttest::kLine.size();
  Record with = without;
  with.raw = collecttest::kLine;
  EXPECT_EQ(moxcollect::SinkWriter::costOf(without), moxcollect::SinkWriter::costOf(with));
  EXPECT_GT(moxcollect::SinkWriter::costOf(without), moxcollect::SinkWriter::costOf(Record()));
}

}  // namespace
