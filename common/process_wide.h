// Process-wide objects: created on first use by their accessor, destroyed by
// the library's exit, and created afresh by the next initialisation.
#pragma once

#include <atomic>

// The object in slot, made by make() when there is none yet. Threads that
// race on the first use all get the one object that won.
template <typename T, typename Make>
T* processWideInstance(std::atomic<T*>& slot, Make make) {
  T* current = slot.load(std::memory_order_acquire);
  if (current != nullptr) return current;
  T* created = make();
  if (slot.compare_exchange_strong(current, created, std::memory_order_acq_rel)) return created;
  delete created;  // another thread was first
  return current;
}

// Forgets the object without touching it (a forked child, whose copy may be
// in the middle of another thread's change); the next use makes a new one.
template <typename T>
void abandonProcessWide(std::atomic<T*>& slot) {
  slot.store(nullptr, std::memory_order_relaxed);
}

// Takes the object out of slot and destroys it; the next use makes a new one.
template <typename T>
void destroyProcessWide(std::atomic<T*>& slot) {
  delete slot.exchange(nullptr, std::memory_order_acq_rel);
}
