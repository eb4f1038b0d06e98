// std::mutex as a capability of the lock analysis, with its scoped holder:
// for the plain mutexes of objects (a std::mutex and std::lock_guard, which
// the analysis cannot see, behave exactly the same).
#pragma once

#include <mutex>

#include "port/thread_annotations.h"

class CAPABILITY("mutex") ThrPlainMutex {
 public:
  ThrPlainMutex() = default;
  ThrPlainMutex(const ThrPlainMutex&) = delete;
  ThrPlainMutex& operator=(const ThrPlainMutex&) = delete;

  // The primitive itself: the analysis takes these at their word.
  void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { m_.lock(); }
  void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { m_.unlock(); }

 private:
  std::mutex m_;
};

class SCOPED_CAPABILITY ThrPlainMutexHold {
 public:
  explicit ThrPlainMutexHold(ThrPlainMutex& m) ACQUIRE(m) : m_(m) { m.lock(); }
  ~ThrPlainMutexHold() RELEASE() { m_.unlock(); }
  ThrPlainMutexHold(const ThrPlainMutexHold&) = delete;
  ThrPlainMutexHold& operator=(const ThrPlainMutexHold&) = delete;

 private:
  ThrPlainMutex& m_;
};
