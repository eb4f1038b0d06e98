#include "thr/thr_asymmetric_fence.h"

#include <time.h>

#include <cstdint>

#include "port/process_barrier.h"

void ThrHeavyFence() {
  // The caller's own full barrier between its store and its loads (a
  // read-modify-write rather than a fence, which the thread sanitizer cannot
  // follow); the process-wide one then fences every other thread.
  static std::atomic<uint32_t> heavyFences{0};
  heavyFences.fetch_add(1, std::memory_order_seq_cst);
  if (!thrgate::callersFence.load(std::memory_order_relaxed) && !portProcessBarrier()) {
    // The barrier failed this once: a short wait lets every thread that is
    // between its store and its load reach the load.
    const timespec tenMs{0, 10000000};
    nanosleep(&tenMs, nullptr);
  }
}
