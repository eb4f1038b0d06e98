// CPerfRecord: the counters and times of one timing key over one interval.
//
// Every operation takes the record's own lock and nothing else; callers take
// it only after releasing the section locks. Elapsed times are milliseconds
// (signed 32-bit), CPU times microseconds (signed 64-bit), -1 when a time was
// not measured. Sums wrap rather than overflow.
#pragma once

#include <cstdint>
#include <string>

#include "mox/metrics/perf_update.h"
#include "thr/thr_spinlock.h"

// The values of a record, copied out under its lock.
struct PerfValues {
  uint32_t active = 0;      // running timings; carried across intervals
  uint32_t finished = 0;    // ended normally in this interval
  uint32_t terminated = 0;  // terminated in this interval
  uint32_t count = 0;       // timings whose times were added
  int32_t sumElapsed = 0;   // divided as unsigned 32-bit
  int64_t sumCpu = 0;
  int32_t sumNetElapsed = 0;  // divided as unsigned 32-bit
  int64_t sumNetCpu = 0;
  int32_t maxElapsed = 0;
  int64_t maxCpu = -1;
  int32_t maxNetElapsed = 0;
  int64_t maxNetCpu = -1;
  int32_t minElapsed = -1;  // -1: none yet
  int64_t minCpu = -1;
  int32_t minNetElapsed = -1;
  int64_t minNetCpu = -1;
  // An update said that the key's component is skipped (PerfUpdate::skipped).
  bool skipped = false;
};

// Own cache line: records of different keys are updated by different threads.
class alignas(64) CPerfRecord {
 public:
  // A fresh record, or one holding running timings only.
  explicit CPerfRecord(std::u16string key, uint32_t active = 0);
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
  PerfValues snapshot() const;

 private:
  void incActiveLocked() REQUIRES(lock_) { ++v_.active; }
  void endLocked(uint32_t& endCounter) REQUIRES(lock_);
  void addTimesLocked(int32_t elapsedMs, int64_t cpuUs, int32_t netElapsedMs, int64_t netCpuUs) REQUIRES(lock_);

  const std::u16string key_;
  mutable ThrSpinLock lock_;
  PerfValues v_ GUARDED_BY(lock_);
  // Ends that found active at 0 (wraps; only a record made while running
  // timings were being carried in needs it, and only for that moment).
  uint32_t unmatchedEnds_ GUARDED_BY(lock_) = 0;
};
