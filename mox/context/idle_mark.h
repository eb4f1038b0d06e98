// IdleMark: who may touch a thread's own context, kept registered between the
// thread's units of work: whether it is open, idle, or left behind by its
// ended thread, and who holds it for the moment.
//
// A thread that times one unit of work after another would otherwise insert
// its context into its bucket and remove it again under the bucket's
// exclusive lock for each unit. Instead its finished context stays in the
// bucket, marked idle, and the thread's next unit claims it back.
//
// Every use of a marked context holds the mark first, and only its holder
// reads the context or changes the state. There are two kinds of holder:
// - The owning thread, on every call, without the bucket lock. It marks
//   itself holding with a plain store to a count only it writes (odd while
//   it holds) and then looks whether anybody else has claimed the mark: no
//   read-modify-write, so the hot path pays none.
// - Everybody else (look-ups of the same key, the scan, removals), always
//   under the bucket lock: a compare-exchange claims the mark among them,
//   then an asymmetric fence (thr_asymmetric_fence.h) makes the owner's
//   count visible. Either the owner sees the claim and backs off, or the
//   claimer sees the owner holding and waits or skips. The scan's check and
//   its claim are one step, so it never reads a context while its thread
//   renews it.
// The owner holds for one call only and awaits no bucket lock meanwhile, so
// a claimer that waits for it, never waits long. Idle, Orphaned and Dropped
// count as not registered. When the thread ends (orphaned) and when the
// registry removes an idle context (dropped), each decides while it holds
// the mark, so exactly one of the two does. Its place under
// max_open_contexts stays taken while it is registered, as the thread's
// spare context's did. The mark is shared between the context and the
// thread, so that an ending thread never touches a context the registry may
// have freed, and a context is freed only after its mark left InUse and
// Idle for good.
#pragma once

#include <atomic>
#include <cstdint>

#include "thr/thr_asymmetric_fence.h"

class IdleMark {
 public:
  enum State : uint8_t { InUse, Idle, Orphaned, Dropped };

  explicit IdleMark(State initial = InUse) : state_(initial) {}

  // A hint for whoever does not hold the mark; the holder's own reading.
  State state() const { return static_cast<State>(state_.load(std::memory_order_relaxed)); }
  // Not registered: idle, orphaned, or dropped by the registry (a hint).
  bool kept() const { return state() != InUse; }

  // ---- the owning thread ----
  // Whether the owning thread holds the mark now (only it may ask).
  bool heldByOwner() const { return ownerHolds_.load(std::memory_order_relaxed) % 2 != 0; }
  // Holds the mark unless another user has claimed it (then nothing changed).
  bool ownerTryHold() {
    const uint32_t holds = ownerHolds_.load(std::memory_order_relaxed);
    ThrStoreThenLightFence(ownerHolds_, holds + 1);
    if (claimed_.load(std::memory_order_seq_cst) == 0) return true;
    ownerHolds_.store(holds + 2, std::memory_order_release);
    return false;
  }
  // Ends the owner's hold, publishing its writes; the state becomes next.
  void ownerRelease(State next) {
    state_.store(next, std::memory_order_relaxed);
    ownerRelease();
  }
  void ownerRelease() { ownerHolds_.store(ownerHolds_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

  // ---- everybody else, under the bucket lock ----
  // Holds the mark unless its owner does (then false, nothing held): for
  // users that leave a context in use alone. Also false while another user
  // holds it, which the exclusive bucket lock rules out.
  bool claimUnlessOwnerHolds();
  // Holds the mark, waiting for the other users and the owner to end their
  // holds: for a user holding the bucket lock shared, beside which nobody
  // holds the mark for longer than one call.
  void claimWaiting();
  // Ends a claim, publishing the claimer's writes; the state becomes next.
  void claimRelease(State next) {
    state_.store(next, std::memory_order_relaxed);
    claimRelease();
  }
  void claimRelease() { claimed_.store(0, std::memory_order_release); }

 private:
  bool tryClaim() {
    uint8_t free = 0;
    return claimed_.compare_exchange_strong(free, 1, std::memory_order_seq_cst, std::memory_order_relaxed);
  }
  // After a claim and a heavy fence: the owner's writes up to its last hold
  // are visible, and it cannot hold again before the claim ends.
  bool ownerOutside() const { return ownerHolds_.load(std::memory_order_seq_cst) % 2 == 0; }

  std::atomic<uint8_t> state_;
  std::atomic<uint8_t> claimed_{0};
  std::atomic<uint32_t> ownerHolds_{0};  // written only by the owning thread
};

// How a user holds a context's mark.
enum class MarkHold : uint8_t { None, Owner, Claimer };
