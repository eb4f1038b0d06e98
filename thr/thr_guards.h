// Scoped holders for the thread layer's locks, so that every early return
// releases what it took. They use the library's lock time-out; a failed or
// timed-out wait is ignored (the caller goes on), as the lock users expect,
// and the lock analysis counts the lock as held for the scope.
#pragma once

#include "thr/thr.h"

class SCOPED_CAPABILITY ThrMutexGuard {
 public:
  explicit ThrMutexGuard(ThrMutex* m) ACQUIRE(m) : m_(m) { ThrMutexLock(m); }
  ~ThrMutexGuard() RELEASE() { ThrMutexUnlock(m_); }
  ThrMutexGuard(const ThrMutexGuard&) = delete;
  ThrMutexGuard& operator=(const ThrMutexGuard&) = delete;

 private:
  ThrMutex* m_;
};

// What the readers-writer holders share: the lock, whether the wait for it
// succeeded, and giving it back once.
template <typename Lock, int (*Release)(Lock*)>
class ThrTimedHold {
 protected:
  ThrTimedHold(Lock* l, int status) : l_(l), held_(status == THR_OK) {}
  ~ThrTimedHold() = default;
  // The holders' own release: the analysis takes it at their word.
  void giveBack() NO_THREAD_SAFETY_ANALYSIS {
    if (held_) Release(l_);
    held_ = false;
  }

 private:
  Lock* l_;
  bool held_;
};

// Holds a readers-writer lock shared for a scope (or until unlock).
template <typename Lock, int (*Take)(Lock*, int32_t), int (*Release)(Lock*)>
class SCOPED_CAPABILITY ThrSharedHold : ThrTimedHold<Lock, Release> {
 public:
  explicit ThrSharedHold(Lock* l) ACQUIRE_SHARED(l) : ThrTimedHold<Lock, Release>(l, Take(l, THR_LOCK_WAIT_MS)) {}
  // Released only when the wait succeeded, which the analysis cannot follow.
  ~ThrSharedHold() RELEASE() NO_THREAD_SAFETY_ANALYSIS { this->giveBack(); }
  // Leaves early (for a caller that goes on to take the lock exclusively).
  void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { this->giveBack(); }
  ThrSharedHold(const ThrSharedHold&) = delete;
  ThrSharedHold& operator=(const ThrSharedHold&) = delete;
};

// Holds a readers-writer lock exclusively for a scope.
template <typename Lock, int (*Take)(Lock*, int32_t), int (*Release)(Lock*)>
class SCOPED_CAPABILITY ThrExclusiveHold : ThrTimedHold<Lock, Release> {
 public:
  explicit ThrExclusiveHold(Lock* l) ACQUIRE(l) : ThrTimedHold<Lock, Release>(l, Take(l, THR_LOCK_WAIT_MS)) {}
  ~ThrExclusiveHold() RELEASE() NO_THREAD_SAFETY_ANALYSIS { this->giveBack(); }
  ThrExclusiveHold(const ThrExclusiveHold&) = delete;
  ThrExclusiveHold& operator=(const ThrExclusiveHold&) = delete;
};

using ThrSharedGuard = ThrSharedHold<ThrRwLock, &ThrRwLockShared, &ThrRwLockRelease>;
using ThrExclusiveGuard = ThrExclusiveHold<ThrRwLock, &ThrRwLockExclusive, &ThrRwLockRelease>;
