// Counters of one collector run. Written by the collector's loop thread and
// its sink writer thread; readable from any thread (tests poll them while the
// loop runs).
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
  // Connections the collector closed itself.
  std::atomic<uint64_t> idleClosed{0};  // silent for longer than the idle time-out
  std::atomic<uint64_t> evicted{0};     // the longest idle, to make room for a new one
  std::atomic<uint64_t> refused{0};     // closed at once: no descriptor and nothing to evict
  std::atomic<uint64_t> overBudget{0};  // took the memory held by all connections over the budget
  // Records that did not reach the output as usual.
  std::atomic<uint64_t> sinkDropped{0};   // the queue to the sinks was full
  std::atomic<uint64_t> topDropped{0};    // keys the --top table let go to stay in its bound
  std::atomic<uint64_t> fileOverflow{0};  // written to the overflow file of --out
  // Metric lines --prometheus could not read (their name or numbers), or refused at its series limit.
  std::atomic<uint64_t> prometheusMalformed{0};
  std::atomic<uint64_t> prometheusRefused{0};

  // By the loop thread only.
  void count(RecordKind kind);
  uint64_t records() const { return metrics + versions + traces + other; }

  // One line, stable for scripts (new counters are only ever appended):
  // "summary connections=2 metrics=120 versions=1 traces=7 other=0 malformed=0 truncated=0 bytes=9876
  //  idle_closed=0 evicted=0 refused=0 over_budget=0 sink_dropped=0 top_dropped=0 file_overflow=0
  //  prometheus_malformed=0 prometheus_refused=0" (one line; shown here on three).
  std::string summary() const;
};

}  // namespace moxcollect
