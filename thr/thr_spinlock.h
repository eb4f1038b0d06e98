// A lock for a few dozen instructions of work (one metric record's update):
// cheaper than a mutex when free, and it yields the processor instead of
// spinning on when the holder was preempted. BasicLockable; ThrSpinGuard
// holds it for a scope where the lock analysis can see it.
#pragma once

#include <atomic>

#include "port/spin_wait.h"
#include "port/thread_annotations.h"

class CAPABILITY("mutex") ThrSpinLock {
 public:
  // The primitive itself: the analysis takes lock and unlock at their word.
  void lock() noexcept ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
    for (int spins = 0; locked_.exchange(true, std::memory_order_acquire); ++spins) {
      while (locked_.load(std::memory_order_relaxed)) {
        if (++spins < kSpinsBeforeYield) {
          portCpuRelax();
        } else {
          portYieldThread();
        }
      }
    }
  }
  void unlock() noexcept RELEASE() NO_THREAD_SAFETY_ANALYSIS { locked_.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpinsBeforeYield = 64;
  std::atomic<bool> locked_{false};
};

class SCOPED_CAPABILITY ThrSpinGuard {
 public:
  explicit ThrSpinGuard(ThrSpinLock& lock) noexcept ACQUIRE(lock) : lock_(lock) { lock.lock(); }
  ~ThrSpinGuard() RELEASE() { lock_.unlock(); }
  ThrSpinGuard(const ThrSpinGuard&) = delete;
  ThrSpinGuard& operator=(const ThrSpinGuard&) = delete;

 private:
  ThrSpinLock& lock_;
};
