// IdleMark: who may touch a thread's own context, kept registered between the
// thread's units of work: whether it is open, idle, taken by one user for one
// call, or left behind by its ended thread.
//
// A thread that times one unit of work after another would otherwise insert
// its context into its bucket and remove it again under the bucket's
// exclusive lock for each unit. Instead its finished context stays in the
// bucket, marked idle, and the thread's next unit claims it back.
//
// Every use of a marked context takes it first: one compare-exchange moves
// the mark from InUse (a unit of work is open) or, for the owning thread's
// next unit, from Idle to Taken (OwnerTaken when the user is that thread, so
// that it never waits for itself), and the user's release stores the state it
// leaves (InUse, Idle when its unit ended, Dropped when it removed the
// context). The owning thread takes its own context that way without the
// bucket lock; everybody else (look-ups of the same key, the scan, removals)
// takes it under the bucket lock, so a context is never read by the scan
// while its thread renews it: the scan's check and its claim are one step.
// Taken is held for one call only and no bucket lock is awaited under it, so
// who finds a mark taken waits or skips, never for long. Idle, Orphaned and
// Dropped count as not registered. When the thread ends (orphaned) and when
// the registry removes an idle context (dropped) the mark moves by
// compare-exchange from Idle, so that exactly one of the two decides. Its
// place under max_open_contexts stays taken while it is registered, as the
// thread's spare context's did. The mark is shared between the context and
// the thread, so that an ending thread never touches a context the registry
// may have freed, and a context is freed only after its mark left InUse and
// Idle for good.
#pragma once

#include <atomic>
#include <cstdint>

struct IdleMark {
  enum State : uint8_t { InUse, Idle, Orphaned, Dropped, Taken, OwnerTaken };
  std::atomic<uint8_t> state{InUse};

  // Not registered: idle, orphaned, or dropped by the registry.
  bool kept() const {
    const uint8_t now = state.load(std::memory_order_acquire);
    return now != InUse && !isTaken(now);
  }
  static bool isTaken(uint8_t state) { return state == Taken || state == OwnerTaken; }
  // From `from` to taken in one step; the taker then has the context to itself until give.
  bool take(uint8_t from, State taken = Taken) {
    return state.compare_exchange_strong(from, taken, std::memory_order_acquire, std::memory_order_relaxed);
  }
  // Ends a take, publishing the taker's writes.
  void give(State next) { state.store(next, std::memory_order_release); }
};
