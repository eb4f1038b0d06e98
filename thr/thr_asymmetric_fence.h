// Asymmetric fences, for a store-then-load pair on each of two sides where
// each side must see the other's store (either sees it, or the other sees its
// own): a frequent side (every call of a hot path) and a rare one (a drain,
// a claim on another thread's state).
//
// Ordering a store before a later load takes a full barrier on both sides.
// The frequent side pays only a compiler barrier; the rare side issues the
// process-wide barrier, which puts a full barrier on every running thread.
// Only where the system has no such barrier does the frequent side fence
// itself.
#pragma once

#include <atomic>

namespace thrgate {
extern std::atomic<bool> callersFence;  // no process-wide barrier: the frequent side fences
}  // namespace thrgate

// The frequent side: stores value into target, ordered before the calling
// thread's later loads as far as the rare side can tell.
template <typename T>
inline void ThrStoreThenLightFence(std::atomic<T>& target, T value) {
  if (thrgate::callersFence.load(std::memory_order_relaxed)) {
    // A full barrier of the caller's own (a read-modify-write rather than a
    // fence, which the thread sanitizer cannot follow).
    target.exchange(value, std::memory_order_seq_cst);
  } else {
    target.store(value, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
}

// The rare side, between its store and its loads: every frequent-side store
// that came before its thread's fence is visible after this, and a frequent
// side that fences later sees the rare side's store. Costs a system call.
void ThrHeavyFence();
