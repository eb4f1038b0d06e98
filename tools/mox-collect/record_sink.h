// Where collected records go. The collector's sink writer thread is the only
// caller of write() for each record in arrival order (per connection),
// tick() with the steady clock whenever the writer wakes, flush() when the
// queue has run empty, failed() after each batch, and finish() once at
// shutdown after the last write. countInto() and descriptors() may be called
// from any thread at any time.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "record.h"
#include "stats.h"

namespace moxcollect {

class RecordSink {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~RecordSink() = default;
  virtual void write(const Record& record) = 0;
  virtual void tick(TimePoint /*now*/) {}
  // When tick() wants to run next; the writer wakes up for it.
  virtual std::optional<TimePoint> nextTick() const { return std::nullopt; }
  virtual void flush() {}
  virtual void finish() { flush(); }
  // True once the sink's output cannot be written any more (e.g. a closed
  // pipe on standard output): the collector then stops.
  virtual bool failed() const { return false; }
  // Adds the sink's own counters (what it dropped or diverted) to stats.
  virtual void countInto(Stats& /*stats*/) const {}
  // The most file descriptors the sink keeps open at once.
  virtual size_t descriptors() const { return 0; }
  // Whether write() reads Record::raw. When no sink does, the collector does
  // not copy the element's bytes into its records (raw stays empty; bytes
  // still says how many there were).
  virtual bool readsRaw() const { return true; }
  // Whether write() reads the split name of a metric or version line
  // (Record::metric, and the identity taken from it). When no sink does, the
  // writer thread does not split names into them.
  virtual bool readsNames() const { return true; }
};

}  // namespace moxcollect
