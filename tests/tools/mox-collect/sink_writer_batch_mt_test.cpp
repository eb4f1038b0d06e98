// Records go to the writer thread in batches filled in place: a full batch
// goes by itself, the queue bound counts records not yet handed over, and
// storage that comes back filled with earlier records never shows through.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "sink_writer.h"
#include "support/test_files.h"

namespace {

using moxcollect::Record;
using moxcollect::SinkWriter;

class KeepingSink : public moxcollect::RecordSink {
 public:
  void write(const Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    written_.push_back(record.raw + "|" + record.element.name + "|" + std::to_string(record.element.attributes.size()));
  }
  std::vector<std::string> written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }

 private:
  std::mutex mutex_;
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
  KeepingSink sink;
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

TEST(SinkWriterBatches, RecordsNotYetHandedOverCountAgainstTheQueue) {
  KeepingSink sink;
  Record probe;
  probe.raw = "<m n=\"0\"/>";
  constexpr size_t kFits = 10;
  SinkWriter writer({&sink}, kFits * SinkWriter::costOf(probe), [] {});
  std::vector<std::string> expected;
  for (size_t i = 0; i < 3 * kFits; ++i) {
    Record& record = writer.slot();
    record.raw = "<m n=\"" + std::to_string(i % 10) + "\"/>";
    if (writer.commit()) expected.push_back(record.raw + "||0");
  }
  EXPECT_EQ(expected.size(), kFits);
  EXPECT_EQ(writer.dropped(), 2 * kFits);
  writer.start();
  ASSERT_TRUE(writer.finish(std::chrono::seconds(30)));
  EXPECT_EQ(sink.written(), expected);
}

}  // namespace
