// Light reads: a hot path reads a value that a rare writer replaces, and
// keeps using what it found until it ends the read, without taking a lock.
// The writer publishes its change, then waits (ThrLightReadersDrain) until
// every read that may have found the old value has ended; only then may it
// retire what the old value named.
//
// A read marks the thread's slot of the entry gate (a plain store to a count
// only its thread writes, no shared cache line) and then reads the value. That store-then-load pair needs a
// full barrier to be ordered against the writer's store-then-scan; the
// writer issues it for everyone with the gate's process-wide barrier, and
// only where the system has none do readers fence themselves, as gate
// callers do. So the writer's drain costs a system call and a scan of the
// slots: for changes made once in a while (an interval's rotation), never per
// call.
//
// Reads do not nest. A thread's slot is the one it enters the gate with, or
// claimed by its first read.
#pragma once

#include <atomic>

#include "thr/thr_entry_gate.h"

// Holds one light read for a scope; false when no slot could be had (then
// the caller must take its locked path).
class ThrLightRead {
 public:
  ThrLightRead() : slot_(thrgate::mySlot) {
    if (slot_ == nullptr && (slot_ = thrgate::claimSlot()) == nullptr) return;
    // Odd: a read in progress. A count rather than a flag, so that a writer
    // waits for a change, which comes with the read's end, and a thread that
    // reads again at once cannot keep it waiting.
    ThrStoreThenLightFence(slot_->lightReads, slot_->lightReads.load(std::memory_order_relaxed) + 1);
  }
  ~ThrLightRead() {
    if (slot_ != nullptr) {
      slot_->lightReads.store(slot_->lightReads.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
  }
  ThrLightRead(const ThrLightRead&) = delete;
  ThrLightRead& operator=(const ThrLightRead&) = delete;
  explicit operator bool() const { return slot_ != nullptr; }

 private:
  ThrGateSlot* slot_;
};

// For the writer, after it published its change (any store, then this):
// returns once every light read that began before has ended. Later reads
// find the change. Must not be called inside a light read.
void ThrLightReadersDrain();
