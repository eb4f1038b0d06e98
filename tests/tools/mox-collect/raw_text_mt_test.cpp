// The collector copies the elements' bytes into its records only when one of
// its sinks reads them; either way every record says how many there were.
#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "collector_support.h"
#include "support/test_files.h"

namespace {

using moxcollect::Record;

class KeepingSink : public moxcollect::RecordSink {
 public:
  explicit KeepingSink(bool readsRaw) : readsRaw_(readsRaw) {}
  void write(const Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    raws_.push_back(record.raw);
    sizes_.push_back(record.bytes);
  }
  bool readsRaw() const override { return readsRaw_; }
  std::vector<std::string> raws() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return raws_;
  }
  std::vector<size_t> sizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sizes_;
  }

 private:
  bool readsRaw_;
  mutable std::mutex mutex_;
  std::vector<std::string> raws_;
  std::vector<size_t> sizes_;
};

// Sends the stream over one connection (in pieces of `piece` bytes) to a collector with these sinks.
void collect(const std::string& stream, size_t piece, const std::vector<KeepingSink*>& sinks) {
  std::ostringstream logText;
  moxcollect::Log log(logText);
  moxcollect::CollectorSettings settings;
  settings.listen = {{"127.0.0.1", 0}};
  settings.quiet = true;
  moxcollect::Collector collector(settings, {sinks.begin(), sinks.end()}, log);
  ASSERT_TRUE(collector.open());
  auto running = std::async(std::launch::async, [&collector] { return collector.run(); });
  const size_t count = collecttest::linesOf(stream).size();
  {
    collecttest::Client client(collector.listeners().at(0).port());
    ASSERT_TRUE(client.send(stream, piece));
    ASSERT_TRUE(testsupport::waitUntil([&] { return sinks.back()->sizes().size() == count; }));
  }
  collector.requestStop();
  EXPECT_TRUE(running.get());
}

std::vector<size_t> sizesOf(const std::vector<std::string>& lines) {
  std::vector<size_t> sizes;
  for (const std::string& line : lines) sizes.push_back(line.size());
  return sizes;
}

TEST(RawText, KeptOnlyWhenASinkReadsItAndTheSizeAlways) {
  const std::string stream = collecttest::sampleStream() + collecttest::repeated(collecttest::kLine + "\n", 300);
  const std::vector<std::string> lines = collecttest::linesOf(stream);
  for (const size_t piece : {size_t{5}, stream.size()}) {
    KeepingSink blind(false);
    collect(stream, piece, {&blind});
    EXPECT_EQ(blind.raws(), std::vector<std::string>(lines.size())) << "pieces of " << piece;
    EXPECT_EQ(blind.sizes(), sizesOf(lines)) << "pieces of " << piece;

    KeepingSink other(false);
    KeepingSink reader(true);
    collect(stream, piece, {&other, &reader});
    EXPECT_EQ(reader.raws(), lines) << "pieces of " << piece;
    EXPECT_EQ(other.raws(), lines) << "pieces of " << piece;
    EXPECT_EQ(reader.sizes(), sizesOf(lines)) << "pieces of " << piece;
  }
}

}  // namespace
