// IdleMark: the state of a thread's own context, which stays registered
// between the thread's units of work, and whether its thread is working on
// it without the bucket's lock.
//
// A thread that times one unit of work after another would otherwise insert
// its context into its bucket and remove it again under the bucket's
// exclusive lock for each unit, and take the bucket's lock shared for each
// call. Instead its finished context stays in the bucket, idle; the thread
// finds it through the mark it shares with it, claims it back for its next
// unit and works on it without the bucket's lock, having entered the mark.
//
// The owning thread alone sets the state in use (claimed) and idle (a unit
// ended), both only while it is entered. The registry reads the state under
// the bucket's lock: a context that is not in use counts as not registered.
// Before it takes a marked context out of its bucket (bucket lock exclusive)
// the registry holds the owner off: it sets the state dropped, then looks
// whether the owner has entered. The owner sets entered, then looks at the
// state. Either the registry sees the owner entered (and leaves the context,
// restoring the state), or the owner sees it dropped (and goes through the
// bucket's lock, where it will not find it). The owner enters on every call
// and the registry holds off rarely, so the owner pairs a compiler barrier
// with a process-wide barrier that the registry issues (port/
// process_barrier.h); where there is none, both sides fence themselves. When the thread ends, an idle context becomes
// orphaned (compare-and-swap from idle, so that a drop and the thread's end never both count it): the scan removes it
// uncounted. Its place under max_open_contexts stays taken while it is registered, as the thread's spare context's did.
// The mark is shared between the context and the thread, so that the thread never touches a context the registry freed.
#pragma once

#include <atomic>
#include <cstdint>

#include "port/process_barrier.h"

struct IdleMark {
  enum State : uint8_t { InUse, Idle, Orphaned, Dropped };
  std::atomic<uint8_t> state{InUse};
  std::atomic<bool> entered{false};

  // Not in use: idle, orphaned, or dropped by the registry.
  bool kept() const { return state.load(std::memory_order_acquire) != InUse; }

  // Whether the owners fence themselves: no process-wide barrier here. Set
  // by prepare(), which every registry calls at its start.
  static inline std::atomic<bool> ownersFence{true};
  static void prepare() { ownersFence.store(!portPrepareProcessBarrier(), std::memory_order_relaxed); }

  // The owner, before it works on the context without the bucket lock; false
  // (not entered) when the registry has taken the context out or is doing so.
  bool enter() {
    entered.store(true, std::memory_order_relaxed);
    if (ownersFence.load(std::memory_order_relaxed)) {
      // A read-modify-write rather than a fence, which the thread sanitizer cannot follow.
      entered.exchange(true, std::memory_order_seq_cst);
    } else {
      std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    if (state.load(std::memory_order_acquire) != Dropped) return true;
    leave();
    return false;
  }
  void leave() { entered.store(false, std::memory_order_release); }

  // The registry, bucket lock exclusive, before it takes the context out:
  // false while the owner has entered, or may have (the state is left as it
  // was). before: the state it had. An orphan's thread has ended: it never
  // enters again.
  bool holdOff(uint8_t& before) {
    before = state.exchange(Dropped, std::memory_order_seq_cst);
    if (before == Orphaned) return true;
    // Makes an owner's entering that came before its look at the state
    // visible here; an owner that looks later sees the state dropped.
    const bool fenced = ownersFence.load(std::memory_order_relaxed) || portProcessBarrier();
    if (fenced && !entered.load(std::memory_order_acquire)) return true;
    letBack(before);
    return false;
  }
  // Undoes a hold-off when the registry keeps the context after all; a state
  // the owner set meanwhile stays.
  void letBack(uint8_t before) {
    uint8_t dropped = Dropped;
    state.compare_exchange_strong(dropped, before, std::memory_order_acq_rel);
  }
};
