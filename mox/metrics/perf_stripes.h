// PerfStripes: partial values of one contended performance record, one
// stripe per group of threads, each on cache lines of its own. Two threads
// timing the same key then update different lines instead of handing one
// line (and its lock) back and forth; the record folds the stripes into its
// values when it is read. A record gets them the first time an update finds
// its lock taken, so only keys that are timed on several threads at once
// pay their memory (kCount * sizeof(PerfStripe) bytes).
#pragma once

#include <cstddef>

#include "mox/metrics/perf_values.h"
#include "thr/thr_spinlock.h"

// Two cache lines: the processor may fetch lines in pairs.
struct alignas(128) PerfStripe {
  mutable ThrSpinLock lock;
  PerfValues v GUARDED_BY(lock);
  RestartedMinima restarted GUARDED_BY(lock) = 0;  // since the stripe was made
  // Ends that found no running timing (as CPerfRecord's own).
  uint32_t unmatchedEnds GUARDED_BY(lock) = 0;
};

struct PerfStripes {
  static constexpr size_t kCount = 8;
  PerfStripe stripes[kCount];

  // The calling thread's stripe: threads take them round-robin in the order
  // they first update any striped record, so a few busy threads each have
  // their own.
  PerfStripe& mine();
  // The calling thread's stripe, its lock held. A stripe found taken is
  // another busy thread's too, or its holder was preempted: the thread then
  // moves on to another stripe for good and waits only if that one is taken
  // as well. Two threads that drew the same stripe part after their first
  // meeting instead of handing its line back and forth from then on.
  PerfStripe& hold();
};
