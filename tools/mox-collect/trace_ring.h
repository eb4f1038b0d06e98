// The latest transaction traces, for the live page: at most `capacity` of
// them and at most `maxBytes` of their JSON; the oldest go first. Each trace
// gets an id, counting from 1 in arrival order, that stays its own while it
// is kept, so a link to it works until it leaves the ring. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "record.h"

namespace moxcollect {

struct TraceSummary {
  uint64_t id = 0;
  std::string process;   // "process_instance", or empty when the connection never named it
  std::string key;       // the root call's resource, "component|method"
  std::string start;     // the event's startTime, as sent
  int64_t duration = 0;  // ms; -1 when not a number
  std::string passport;  // the client.header.VEL-PASSPORT parameter, or empty
  size_t calls = 0;      // calls in the tree, the root included
};

// The summary of a record of kind Trace (id left 0).
TraceSummary summarizeTrace(const Record& record);

class TraceRing {
 public:
  static constexpr size_t kDefaultCapacity = 1000;
  static constexpr size_t kDefaultMaxBytes = 64u << 20;

  explicit TraceRing(size_t capacity = kDefaultCapacity, size_t maxBytes = kDefaultMaxBytes)
      : capacity_(capacity), maxBytes_(maxBytes) {}

  // Keeps the trace and returns its id; a trace whose JSON alone is over
  // maxBytes is not kept (0, counted in tooLarge()).
  uint64_t add(TraceSummary summary, std::string json);
  // The newest first, at most limit; with a process label, only its traces.
  std::vector<TraceSummary> latest(size_t limit, const std::string& process = std::string()) const;
  // The JSON of a trace still kept, or null.
  const std::string* json(uint64_t id) const;

  size_t size() const { return entries_.size(); }
  size_t bytes() const { return bytes_; }
  uint64_t tooLarge() const { return tooLarge_; }

 private:
  struct Entry {
    TraceSummary summary;
    std::string json;
  };

  size_t capacity_;
  size_t maxBytes_;
  std::deque<Entry> entries_;  // ids ascending and consecutive
  size_t bytes_ = 0;
  uint64_t nextId_ = 1;
  uint64_t tooLarge_ = 0;
};

}  // namespace moxcollect
