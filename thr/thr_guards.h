// Scoped holders for the thread layer's locks, so that every early return
// releases what it took. They use the library's lock time-out; a failed or
// timed-out wait is ignored (the caller goes on), as the lock users expect.
#pragma once

#include "thr/thr.h"

class ThrMutexGuard {
 public:
  explicit ThrMutexGuard(ThrMutex* m) : m_(m) { ThrMutexLock(m_); }
  ~ThrMutexGuard() { ThrMutexUnlock(m_); }
  ThrMutexGuard(const ThrMutexGuard&) = delete;
  ThrMutexGuard& operator=(const ThrMutexGuard&) = delete;

 private:
  ThrMutex* m_;
};

class ThrSharedGuard {
 public:
  explicit ThrSharedGuard(ThrRwLock* l) : l_(l) { held_ = ThrRwLockShared(l_, THR_LOCK_WAIT_MS) == THR_OK; }
  ~ThrSharedGuard() { if (held_) ThrRwLockRelease(l_); }
  ThrSharedGuard(const ThrSharedGuard&) = delete;
  ThrSharedGuard& operator=(const ThrSharedGuard&) = delete;

 private:
  ThrRwLock* l_;
  bool held_;
};

class ThrExclusiveGuard {
 public:
  explicit ThrExclusiveGuard(ThrRwLock* l) : l_(l) { held_ = ThrRwLockExclusive(l_, THR_LOCK_WAIT_MS) == THR_OK; }
  ~ThrExclusiveGuard() { if (held_) ThrRwLockRelease(l_); }
  ThrExclusiveGuard(const ThrExclusiveGuard&) = delete;
  ThrExclusiveGuard& operator=(const ThrExclusiveGuard&) = delete;

 private:
  ThrRwLock* l_;
  bool held_;
};
