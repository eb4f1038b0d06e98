// The entry gate: calls pass through it while it is open; the closer shuts it
// and waits until every call that passed has left, so that it can then tear
// down what the calls use. Calls that find it shut are turned away at once.
//
// Entry is meant for every call of a hot path: a thread counts its depth in a
// slot of its own (no read-modify-write, no shared cache line) and reads the
// open flag. That store-then-load pair needs a full barrier to be ordered; the
// closer issues it for everyone with a process-wide barrier after shutting,
// and only where the system has none do callers fence themselves.
//
// Entries nest (a call made from inside another counts twice). The closer
// must not be inside the gate itself. A thread's slot is returned when the
// thread ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "port/thread_local.h"
#include "thr/thr_asymmetric_fence.h"

struct alignas(64) ThrGateSlot {
  std::atomic<uint32_t> depth{0};  // written only by the owning thread
  // Light reads begun and ended by the owning thread (thr_light_read.h):
  // odd while one is in progress. Written only by the owning thread.
  std::atomic<uint32_t> lightReads{0};
  std::atomic<bool> inUse{false};
  ThrGateSlot* next = nullptr;  // list of every slot ever made; never freed
};

namespace thrgate {
extern std::atomic<bool> open;
// Constant-initialised thread-local: reading it needs no per-access
// initialisation check.
extern PORT_THREAD_LOCAL ThrGateSlot* mySlot;
// The calling thread's slot, claimed on its first entry; nullptr without memory.
ThrGateSlot* claimSlot();
// The list of every slot ever made (never freed), for walks.
ThrGateSlot* firstSlot();
}  // namespace thrgate

// True when the call may go on; it must then call ThrGateLeave once.
inline bool ThrGateEnter() {
  ThrGateSlot* slot = thrgate::mySlot;
  if (slot == nullptr && (slot = thrgate::claimSlot()) == nullptr) return false;
  const uint32_t depth = slot->depth.load(std::memory_order_relaxed);
  ThrStoreThenLightFence(slot->depth, depth + 1);
  if (thrgate::open.load(std::memory_order_acquire)) return true;
  slot->depth.store(depth, std::memory_order_release);
  return false;
}

inline void ThrGateLeave() {
  ThrGateSlot* slot = thrgate::mySlot;
  slot->depth.store(slot->depth.load(std::memory_order_relaxed) - 1, std::memory_order_release);
}

// How deep the calling thread is inside the gate (0: outside).
uint32_t ThrGateDepth();
// Lets calls in; everything they use must be ready before this.
void ThrGateOpen();
// Turns new calls away and returns once every call inside has left.
void ThrGateCloseAndDrain();
// In a forked child: the gate is shut, and the slots of the threads that
// did not follow into the child are empty and free.
void ThrGateForgetOtherThreads();

// Holds one entry for a scope.
class ThrGateEntry {
 public:
  ThrGateEntry() : entered_(ThrGateEnter()) {}
  ~ThrGateEntry() {
    if (entered_) ThrGateLeave();
  }
  explicit operator bool() const { return entered_; }
  ThrGateEntry(const ThrGateEntry&) = delete;
  ThrGateEntry& operator=(const ThrGateEntry&) = delete;

 private:
  const bool entered_;
};
