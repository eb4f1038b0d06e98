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

class SCOPED_CAPABILITY ThrSharedGuard {
 public:
  explicit ThrSharedGuard(ThrRwLock* l) ACQUIRE_SHARED(l) : l_(l) {
    held_ = ThrRwLockShared(l, THR_LOCK_WAIT_MS) == THR_OK;
  }
  ~ThrSharedGuard() RELEASE() NO_THREAD_SAFETY_ANALYSIS {  // released only when the wait succeeded
    if (held_) ThrRwLockRelease(l_);
  }
  ThrSharedGuard(const ThrSharedGuard&) = delete;
  ThrSharedGuard& operator=(const ThrSharedGuard&) = delete;

 private:
  ThrRwLock* l_;
  bool held_;
};

class SCOPED_CAPABILITY ThrExclusiveGuard {
 public:
  explicit ThrExclusiveGuard(ThrRwLock* l) ACQUIRE(l) : l_(l) {
    held_ = ThrRwLockExclusive(l, THR_LOCK_WAIT_MS) == THR_OK;
  }
  ~ThrExclusiveGuard() RELEASE() NO_THREAD_SAFETY_ANALYSIS {  // released only when the wait succeeded
    if (held_) ThrRwLockRelease(l_);
  }
  ThrExclusiveGuard(const ThrExclusiveGuard&) = delete;
  ThrExclusiveGuard& operator=(const ThrExclusiveGuard&) = delete;

 private:
  ThrRwLock* l_;
  bool held_;
};
