// The queue to a blocked output holds at most its bytes: further records are
// dropped and counted when they arrive, and those queued are written in order
// once the output moves again.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "sink_writer.h"

namespace {

using moxcollect::Record;
using moxcollect::SinkWriter;

// An output that takes nothing until it is opened.
class GatedSink : public moxcollect::RecordSink {
 public:
  void write(const Record& record) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    written_.push_back(record.raw);
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
  bool entered_ = false, open_ = false;
  std::vector<std::string> written_;
};

Record numbered(int i) {
  Record record;
  record.raw = "<m n=\"" + std::to_string(1000 + i) + "\"/>";
  return record;
}

TEST(SinkWriter, ABlockedOutputHoldsAtMostTheQueueAndCountsTheRestAsTheyArrive) {
  GatedSink sink;
  const size_t cost = SinkWriter::costOf(numbered(0));
  constexpr size_t kFits = 10;
  SinkWriter writer({&sink}, kFits * cost, [] {});
  writer.start();
  ASSERT_TRUE(writer.push(numbered(0)));
  sink.waitUntilBlocked();  // record 0 is being written and still counts

  std::vector<std::string> accepted = {numbered(0).raw};
  for (int i = 1; i < 100; ++i) {
    if (writer.push(numbered(i))) accepted.push_back(numbered(i).raw);
  }
  EXPECT_EQ(accepted.size(), kFits);
  EXPECT_EQ(writer.dropped(), 100 - kFits);

  sink.open();
  ASSERT_TRUE(writer.finish(std::chrono::seconds(30)));
  EXPECT_EQ(sink.written(), accepted);
  EXPECT_EQ(writer.dropped(), 100 - kFits);
}

}  // namespace
