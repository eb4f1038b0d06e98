// Counts the heap allocations of the whole process (library, peer and
// benchmark alike) while a count is open, by standing in for malloc and its
// kin. Sanitizer builds own malloc: there the hook is left out and
// allocationHookActive() is false.
#pragma once

#include <cstdint>

struct AllocationCount {
  uint64_t allocations = 0;
  // Usable bytes allocated less those freed while counting.
  int64_t netBytes = 0;
};

bool allocationHookActive();
// One count at a time, from any thread; allocations on every thread count.
void startCountingAllocations();
AllocationCount stopCountingAllocations();
