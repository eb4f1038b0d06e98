// Where collected records go. The collector's loop thread is the only caller:
// write() for each record in arrival order (per connection), tick() once per
// loop turn with the loop's steady clock, flush() when the loop is about to
// wait, and finish() once at shutdown after the last write.
#pragma once

#include <chrono>
#include <optional>

#include "record.h"

namespace moxcollect {

class RecordSink {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~RecordSink() = default;
  virtual void write(const Record& record) = 0;
  virtual void tick(TimePoint /*now*/) {}
  // When tick() wants to run next; the loop wakes up for it.
  virtual std::optional<TimePoint> nextTick() const { return std::nullopt; }
  virtual void flush() {}
  virtual void finish() { flush(); }
  // True once the sink's output cannot be written any more (e.g. a closed
  // pipe on standard output): the collector then stops.
  virtual bool failed() const { return false; }
};

}  // namespace moxcollect
