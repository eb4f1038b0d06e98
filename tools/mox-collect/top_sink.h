// --top: feeds a TopTable and redraws it on the output stream every interval
// (by the loop's steady clock, so tests drive it with their own time points),
// and once more at shutdown. On a terminal each redraw first clears the
// screen; otherwise the tables follow each other.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>

#include "record_sink.h"
#include "top_table.h"

namespace moxcollect {

class TopSink : public RecordSink {
 public:
  TopSink(std::ostream& out, std::chrono::milliseconds interval, size_t rows, bool clearScreen)
      : out_(out), interval_(interval), rows_(rows), clearScreen_(clearScreen) {}

  void write(const Record& record) override { table_.add(record); }
  void tick(TimePoint now) override;
  std::optional<TimePoint> nextTick() const override { return next_; }
  void flush() override { out_.flush(); }
  void finish() override;
  bool failed() const override { return !out_.good(); }

 private:
  void draw();

  std::ostream& out_;
  std::chrono::milliseconds interval_;
  size_t rows_;
  bool clearScreen_;
  TopTable table_;
  std::optional<TimePoint> next_;
};

}  // namespace moxcollect
