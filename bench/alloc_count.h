// Counting heap allocations with the allocation hook (alloc_hook/), which is
// present only in a process started with it preloaded: see runHeapReport in
// bench_main.cpp.
#pragma once

#include <cstdint>

struct AllocationCount {
  uint64_t allocations = 0;
  // Usable bytes allocated less those freed while counting.
  int64_t netBytes = 0;
};

// Whether the hook is loaded in this process.
bool allocationHookActive();
// One count at a time, from any thread; allocations on every thread count.
// Without the hook nothing is counted.
void startCountingAllocations();
AllocationCount stopCountingAllocations();
