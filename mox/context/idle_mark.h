// IdleMark: whether a thread's own context, kept registered between the
// thread's units of work, is in use, idle, or left behind by its ended thread.
//
// A thread that times one unit of work after another would otherwise insert
// its context into its bucket and remove it again under the bucket's
// exclusive lock for each unit. Instead its finished context stays in the
// bucket, marked idle, and the thread's next unit claims it back under the
// shared lock. The owning thread sets the mark in use when it claims the
// context (under the bucket's shared lock) and idle when a unit ends; the
// registry reads it under the bucket's lock: a context that is not in use
// counts as not registered, and the scan removes it once orphaned. When the
// thread ends (orphaned) and when the registry removes an idle context
// (dropped) the mark changes by compare-and-swap from idle, so that exactly
// one of the two decides. Its place under max_open_contexts stays taken
// while it is registered, as the thread's spare context's did. The mark is
// shared between the context and the thread, so that an ending thread never
// touches a context the registry may have freed.
#pragma once

#include <atomic>
#include <cstdint>

struct IdleMark {
  enum State : uint8_t { InUse, Idle, Orphaned, Dropped };
  std::atomic<uint8_t> state{InUse};

  // Not in use: idle, orphaned, or dropped by the registry.
  bool kept() const { return state.load(std::memory_order_acquire) != InUse; }
};
