// A mutex for a process-wide lock with static storage: constant-initialised,
// so it works before any code of the process has run; never destroyed, so a
// thread still leaving it while the process tears down touches no freed
// memory; and made anew by renew() in a forked child, where another thread
// of the parent may have held it. Plain or recursive.
#pragma once

#include <pthread.h>

#include "port/recursive_mutex_init.h"
#include "port/thread_annotations.h"

class CAPABILITY("mutex") ThrStaticMutex {
 public:
  struct Recursive {};
  constexpr ThrStaticMutex() : m_ PORT_MUTEX_INITIALIZER {}
  constexpr explicit ThrStaticMutex(Recursive) : m_ PORT_RECURSIVE_MUTEX_INITIALIZER, recursive_(true) {}
  ThrStaticMutex(const ThrStaticMutex&) = delete;
  ThrStaticMutex& operator=(const ThrStaticMutex&) = delete;

  // The primitive itself: the analysis takes these at their word.
  void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_lock(&m_); }
  void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_unlock(&m_); }
  bool tryLock() TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS { return pthread_mutex_trylock(&m_) == 0; }

  // Only in a forked child, before any other use there.
  void renew() {
    if (recursive_) {
      m_ = PORT_RECURSIVE_MUTEX_INITIALIZER;
    } else {
      m_ = PORT_MUTEX_INITIALIZER;
    }
  }

  pthread_mutex_t* native() { return &m_; }

 private:
  pthread_mutex_t m_;
  const bool recursive_ = false;
};

// Holds a ThrStaticMutex for a scope.
class SCOPED_CAPABILITY ThrStaticMutexHold {
 public:
  explicit ThrStaticMutexHold(ThrStaticMutex& m) ACQUIRE(m) : m_(m) { m_.lock(); }
  ~ThrStaticMutexHold() RELEASE() { m_.unlock(); }
  ThrStaticMutexHold(const ThrStaticMutexHold&) = delete;
  ThrStaticMutexHold& operator=(const ThrStaticMutexHold&) = delete;

 private:
  ThrStaticMutex& m_;
};
