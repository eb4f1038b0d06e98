// Counters of one collector run. Written by the collector's loop thread;
// readable from any thread (tests poll them while the loop runs).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "record.h"

namespace moxcollect {

struct Stats {
  std::atomic<uint64_t> connections{0};  // accepted since the start
  std::atomic<uint64_t> open{0};         // open now
  std::atomic<uint64_t> metrics{0};      // metric lines, the version lines not included
  std::atomic<uint64_t> versions{0};
  std::atomic<uint64_t> traces{0};
  std::atomic<uint64_t> other{0};      // elements of no known kind
  std::atomic<uint64_t> malformed{0};  // elements dropped as not well-formed or too long
  std::atomic<uint64_t> truncated{0};  // unfinished elements at the end of a connection
  std::atomic<uint64_t> bytes{0};

  void count(RecordKind kind);
  uint64_t records() const { return metrics + versions + traces + other; }

  // One line, stable for scripts:
  // "summary connections=2 metrics=120 versions=1 traces=7 other=0 malformed=0 truncated=0 bytes=9876"
  std::string summary() const;
};

}  // namespace moxcollect
