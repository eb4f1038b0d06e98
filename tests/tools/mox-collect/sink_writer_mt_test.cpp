// Records go to the writer thread in batches filled in place: a full batch
// goes by itself, refilled storage never shows an earlier record through, and
// the queue to a blocked output holds at most its bytes, counting records not
// yet handed over; the rest are dropped and counted as they arrive.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "sink_writer.h"
#include "support/test_files.h"

namespace {

using moxcollect::Record;
using moxcollect::SinkWriter;

// An output that keeps what it writes; closed, it takes nothing until opened.
class GatedSink : public moxcollect::RecordSink {
 public:
  explicit GatedSink(bool open = true) : open_(open) {}
  void write(const Record& record) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    written_.push_back(record.raw + "|" + record.element.name + "|" + std::to_string(record.element.attributes.size()));
  }
  void waitUntilBlocked() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  std::vector<std::string> written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false, open_;
  std::vector<std::string> written_;
};

// Fills the writer's next slot as the collector does, every field it reads assigned; a long raw
// text now and then, which is not kept for the next record.
std::string fill(SinkWriter& writer, size_t i) {
  Record& record = writer.slot();
  record.raw.assign(i % 97 == 0 ? std::string(5000, 'x') : "<m n=\"" + std::to_string(i) + "\"/>");
  record.element.name.assign(i % 2 == 0 ? "m" : "metric");
  record.element.attributes.resize(i % 3);
  return record.raw + "|" + record.element.name + "|" + std::to_string(i % 3);
}

TEST(SinkWriterBatches, AFullBatchGoesByItselfAndRefilledSlotsCarryOnlyTheirOwnRecord) {
  GatedSink sink;
  SinkWriter writer({&sink}, SinkWriter::kDefaultQueueBytes, [] {});
  writer.start();
  std::vector<std::string> expected;
  for (size_t i = 0; i < SinkWriter::kBatchRecords; ++i) {
    expected.push_back(fill(writer, i));
    ASSERT_TRUE(writer.commit());
  }
  // Not published by the caller: the full batch went on its own.
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink.written().size() == SinkWriter::kBatchRecords; }));
  // Many more rounds through the batches that come back, with a tail left for finish().
  for (size_t i = SinkWriter::kBatchRecords; i < 20 * SinkWriter::kBatchRecords + 7; ++i) {
    expected.push_back(fill(writer, i));
    ASSERT_TRUE(writer.commit());
    if (i % 100 == 0) writer.publish();
  }
  ASSERT_TRUE(writer.finish(std::chrono::seconds(30)));
  EXPECT_EQ(sink.written(), expected);
  EXPECT_EQ(writer.dropped(), 0u);
}

Record numbered(int i) {
  Record record;
  record.raw = "<m n=\"" + std::to_string(1000 + i) + "\"/>";
  return record;
}

TEST(SinkWriter, ABlockedOutputHoldsAtMostTheQueueAndCountsTheRestAsTheyArrive) {
  GatedSink sink(false);
  constexpr size_t kFits = 10;
  SinkWriter writer({&sink}, kFits * SinkWriter::costOf(numbered(0)), [] {});
  writer.start();
  ASSERT_TRUE(writer.push(numbered(0)));
  sink.waitUntilBlocked();  // record 0 is being written and still counts

  // Committed into a batch not yet handed over: they count against the queue too.
  std::vector<std::string> accepted = {numbered(0).raw + "||0"};
  for (int i = 1; i < 100; ++i) {
    const bool queued = i < 50 ? (writer.slot() = numbered(i), writer.commit()) : writer.push(numbered(i));
    if (queued) accepted.push_back(numbered(i).raw + "||0");
  }
  EXPECT_EQ(accepted.size(), kFits);
  EXPECT_EQ(writer.dropped(), 100 - kFits);

  sink.open();
  ASSERT_TRUE(writer.finish(std::chrono::seconds(30)));
  EXPECT_EQ(sink.written(), accepted);
  EXPECT_EQ(writer.dropped(), 100 - kFits);
}

}  // namespace
