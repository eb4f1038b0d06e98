// A lock for a few dozen instructions of work (one metric record's update):
// cheaper than a mutex when free. A waiter spins briefly, then gives the
// processor away, and once the holder has stayed away for a while (it was
// preempted, on a machine with more threads than cores) sleeps between looks,
// so that waiting never keeps a core busy for long. BasicLockable;
// ThrSpinGuard holds it for a scope where the lock analysis can see it.
#pragma once

#include <atomic>
#include <mutex>

#include "port/spin_wait.h"
#include "port/thread_annotations.h"

// The waiting step of a spin lock's waiter after rounds unsuccessful looks.
void thrSpinBackOff(int rounds);

class CAPABILITY("mutex") ThrSpinLock {
 public:
  // The primitive itself: the analysis takes lock and unlock at their word.
  void lock() noexcept ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
    int looks = 0;
    while (locked_.exchange(true, std::memory_order_acquire)) {
      while (locked_.load(std::memory_order_relaxed)) {
        if (looks < kSpinsBeforeYield) {
          portCpuRelax();
        } else {
          thrSpinBackOff(looks - kSpinsBeforeYield);
        }
        if (looks < kLooksCounted) ++looks;
      }
    }
  }
  // One attempt, no wait: a failure tells the caller that another thread
  // holds the lock right now (the metric store spreads a contended record on it).
  bool try_lock() noexcept TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS {
    return !locked_.load(std::memory_order_relaxed) && !locked_.exchange(true, std::memory_order_acquire);
  }
  void unlock() noexcept RELEASE() NO_THREAD_SAFETY_ANALYSIS { locked_.store(false, std::memory_order_release); }
  // Tells the analysis that the caller holds the lock, taken where it cannot
  // see (a function that returns an object with its lock held).
  void assertHeld() const noexcept ASSERT_CAPABILITY(this) {}

 private:
  static constexpr int kSpinsBeforeYield = 64;
  static constexpr int kLooksCounted = kSpinsBeforeYield + 1024;  // no overflow however long the wait
  std::atomic<bool> locked_{false};
};

class SCOPED_CAPABILITY ThrSpinGuard {
 public:
  explicit ThrSpinGuard(ThrSpinLock& lock) noexcept ACQUIRE(lock) : lock_(lock) { lock.lock(); }
  // Takes over the caller's hold of lock.
  ThrSpinGuard(ThrSpinLock& lock, std::adopt_lock_t) noexcept REQUIRES(lock) : lock_(lock) {}
  ~ThrSpinGuard() RELEASE() { lock_.unlock(); }
  ThrSpinGuard(const ThrSpinGuard&) = delete;
  ThrSpinGuard& operator=(const ThrSpinGuard&) = delete;

 private:
  ThrSpinLock& lock_;
};
