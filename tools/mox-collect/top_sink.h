// --top: feeds a TopTable. On a terminal (live) it clears the screen and
// redraws the table every interval (by the steady clock the writer ticks it
// with, so tests drive it with their own time points) and once more at
// shutdown. Otherwise (output to a file or a pipe) it prints the table once,
// at shutdown, so the file holds one readable table.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <ostream>

#include "record_sink.h"
#include "top_table.h"

namespace moxcollect {

class TopSink : public RecordSink {
 public:
  TopSink(std::ostream& out, std::chrono::milliseconds interval, size_t rows, bool live,
          size_t maxKeys = TopTable::kDefaultMaxKeys)
      : out_(out), interval_(interval), rows_(rows), live_(live), table_(maxKeys) {}

  void write(const Record& record) override;
  bool readsRaw() const override { return false; }
  void tick(TimePoint now) override;
  std::optional<TimePoint> nextTick() const override { return next_; }
  void flush() override { out_.flush(); }
  void finish() override;
  bool failed() const override { return !out_.good(); }
  void countInto(Stats& stats) const override { stats.topDropped += dropped_.load(); }

 private:
  void draw();

  std::ostream& out_;
  std::chrono::milliseconds interval_;
  size_t rows_;
  bool live_;
  TopTable table_;
  std::optional<TimePoint> next_;
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace moxcollect
