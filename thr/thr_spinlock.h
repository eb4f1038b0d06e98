// A lock for a few dozen instructions of work (one metric record's update):
// cheaper than a mutex when free, and it yields the processor instead of
// spinning on when the holder was preempted. BasicLockable, so it works with
// std::lock_guard.
#pragma once

#include <sched.h>

#include <atomic>

class ThrSpinLock {
 public:
  void lock() noexcept {
    for (int spins = 0; locked_.exchange(true, std::memory_order_acquire); ++spins) {
      while (locked_.load(std::memory_order_relaxed)) {
        if (++spins < kSpinsBeforeYield) {
          __builtin_ia32_pause();
        } else {
          sched_yield();
        }
      }
    }
  }
  void unlock() noexcept { locked_.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpinsBeforeYield = 64;
  std::atomic<bool> locked_{false};
};
