// CPerfRecord: the counters and times of one timing key over one interval.
//
// Every operation takes the record's own lock, or the lock of one of its
// stripes, and nothing else while holding it; callers may hold the section
// locks. Elapsed times are milliseconds (signed 32-bit), CPU times
// microseconds (signed 64-bit), -1 when a time was not measured. Sums wrap
// rather than overflow.
//
// A record updated by several threads at once spreads its updates over
// stripes (PerfStripes) from the first update that finds its lock taken;
// reading folds them in. A running timing is counted where its start landed;
// an end lowers the count where it lands when one runs there, else wherever
// one runs, so the record counts as one set of running timings.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "mox/metrics/perf_stripes.h"
#include "mox/metrics/perf_update.h"
#include "mox/metrics/perf_values.h"
#include "thr/thr_spinlock.h"

// Own cache line: records of different keys are updated by different threads.
class alignas(64) CPerfRecord {
 public:
  // A fresh record, or one holding running timings only.
  explicit CPerfRecord(std::u16string key, uint32_t active = 0);
  ~CPerfRecord();
  CPerfRecord(const CPerfRecord&) = delete;
  CPerfRecord& operator=(const CPerfRecord&) = delete;

  const std::u16string& key() const { return key_; }

  // In one hold, as the update asks: counts a started timing as active;
  // adds the times (to the sums; raising the maxima, lowering the minima, an
  // unset negative minimum taking any value; counting one); ends a timing
  // (lowering active, never below 0, and counting it finished or terminated).
  void apply(const PerfUpdate& update);
  // Takes over the running timings of the key's record of the ended
  // interval. Ends that arrived here first found no running timing and were
  // not subtracted; as many of them as running covers are subtracted now, so
  // the record holds what it would had it started with running; it takes
  // over the skipped mark too. Once per record.
  void carryIn(uint32_t running, bool skipped);

  uint32_t active() const;
  // The values with every stripe folded in.
  PerfValues snapshot() const;
  // Spreads later updates over stripes, as the first contended update does
  // (tests use it to get a striped record without racing for one); false
  // when out of memory.
  bool spreadUpdates() { return spread() != nullptr; }
  bool striped() const { return stripes_.load(std::memory_order_acquire) != nullptr; }

 private:
  // Applies update to the record's own values; releases lock_.
  // Inline into apply: its one hold is the timing path's.
  __attribute__((always_inline)) inline void applyHeld(const PerfUpdate& update) RELEASE(lock_);
  // Applies update to stripe, whose lock the caller holds; releases it.
  void applyToStripe(PerfStripe& stripe, const PerfUpdate& update);
  // Ends one running timing wherever one runs, besides at skip (nullptr:
  // none skipped); with none running, counts an unmatched end.
  void endElsewhere(const PerfStripe* skip);
  void noteRunning() {
    if (!everRunning_.load(std::memory_order_relaxed)) everRunning_.store(true, std::memory_order_release);
  }
  // Runs work holding the record's lock and every stripe's: one step for all of them.
  template <typename Work>
  void withAllLocked(const PerfStripes& stripes, Work&& work) const NO_THREAD_SAFETY_ANALYSIS;
  // The stripes, made now if none are there yet; nullptr when out of memory.
  PerfStripes* spread();

  const std::u16string key_;
  // Set once, read by every update: kept apart from the lines that are written.
  std::atomic<PerfStripes*> stripes_{nullptr};
  // Set by the first running timing counted (started or carried in): until
  // then an end that finds none where it lands need not look elsewhere, as
  // with a scope that counts no running timings, where every end is so.
  std::atomic<bool> everRunning_{false};
  mutable ThrSpinLock lock_;
  PerfValues v_ GUARDED_BY(lock_);
  // Ends that found no running timing (wraps; only a record made while
  // running timings were being carried in needs it, and only for that moment).
  uint32_t unmatchedEnds_ GUARDED_BY(lock_) = 0;
};
