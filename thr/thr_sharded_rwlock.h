// A readers-writer lock for data that many threads read at once and that is
// written rarely (the current section of the metric store). Readers count
// themselves in one of several cache-line-sized slots, so concurrent readers
// on different cores never write the same cache line; a writer raises a flag
// that turns new readers away (writers have precedence) and waits until every
// slot is empty. Shared entry costs two atomic operations on the reader's own
// slot; exclusive entry costs a scan of the slots, so writers must be rare.
//
// Status codes and time-outs as the thread layer's readers-writer lock: the
// time-out applies to each wait; THR_OK / THR_TIMEOUT / THR_OS_FAILED.
#pragma once

#include <cstdint>

#include "thr/thr.h"

struct ThrShardedRwLock;  // opaque

int ThrShardedRwLockInit(ThrShardedRwLock** out);
int ThrShardedRwLockShared(ThrShardedRwLock* l, int32_t timeoutMs);
int ThrShardedRwLockExclusive(ThrShardedRwLock* l, int32_t timeoutMs);
// Unlike ThrRwLockRelease, the mode is named: readers and the writer release
// different counters.
int ThrShardedRwLockReleaseShared(ThrShardedRwLock* l);
int ThrShardedRwLockReleaseExclusive(ThrShardedRwLock* l);
int ThrShardedRwLockDelete(ThrShardedRwLock* l);

class ThrShardedSharedGuard {
 public:
  explicit ThrShardedSharedGuard(ThrShardedRwLock* l) : l_(l) {
    held_ = ThrShardedRwLockShared(l_, THR_LOCK_WAIT_MS) == THR_OK;
  }
  ~ThrShardedSharedGuard() { unlock(); }
  // Leaves early (for a caller that goes on to take the lock exclusively).
  void unlock() {
    if (held_) ThrShardedRwLockReleaseShared(l_);
    held_ = false;
  }
  ThrShardedSharedGuard(const ThrShardedSharedGuard&) = delete;
  ThrShardedSharedGuard& operator=(const ThrShardedSharedGuard&) = delete;

 private:
  ThrShardedRwLock* l_;
  bool held_;
};

class ThrShardedExclusiveGuard {
 public:
  explicit ThrShardedExclusiveGuard(ThrShardedRwLock* l) : l_(l) {
    held_ = ThrShardedRwLockExclusive(l_, THR_LOCK_WAIT_MS) == THR_OK;
  }
  ~ThrShardedExclusiveGuard() {
    if (held_) ThrShardedRwLockReleaseExclusive(l_);
  }
  ThrShardedExclusiveGuard(const ThrShardedExclusiveGuard&) = delete;
  ThrShardedExclusiveGuard& operator=(const ThrShardedExclusiveGuard&) = delete;

 private:
  ThrShardedRwLock* l_;
  bool held_;
};
