#include "thr/thr_light_read.h"

#include "port/spin_wait.h"

void ThrLightReadersDrain() {
  ThrHeavyFence();
  for (ThrGateSlot* slot = thrgate::firstSlot(); slot != nullptr; slot = slot->next) {
    // A read lasts one short update and waits for no lock the writer holds:
    // the count moves on when it ends.
    const uint32_t seen = slot->lightReads.load(std::memory_order_acquire);
    if (seen % 2 == 0) continue;
    while (slot->lightReads.load(std::memory_order_acquire) == seen) portYieldThread();
  }
}
