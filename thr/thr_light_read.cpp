#include "thr/thr_light_read.h"

#include <time.h>

#include "port/process_barrier.h"
#include "port/spin_wait.h"

void ThrLightReadersDrain() {
  // The writer's own full barrier between its change and its look at the
  // counts (a read-modify-write rather than a fence, which the thread
  // sanitizer cannot follow); the process-wide one below then makes every
  // reader's mark that came before its read of the value visible here, and
  // a reader that marks itself later finds the change.
  static std::atomic<uint32_t> drains{0};
  drains.fetch_add(1, std::memory_order_seq_cst);
  if (!thrgate::callersFence.load(std::memory_order_relaxed) && !portProcessBarrier()) {
    // The barrier failed this once: a short wait lets every reader that is
    // between its mark and its read reach the read.
    const timespec tenMs{0, 10000000};
    nanosleep(&tenMs, nullptr);
  }
  for (ThrGateSlot* slot = thrgate::firstSlot(); slot != nullptr; slot = slot->next) {
    // A read lasts one short update and waits for no lock the writer holds:
    // the count moves on when it ends.
    const uint32_t seen = slot->lightReads.load(std::memory_order_acquire);
    if (seen % 2 == 0) continue;
    while (slot->lightReads.load(std::memory_order_acquire) == seen) portYieldThread();
  }
}
