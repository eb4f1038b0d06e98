// Heap use of the hot paths, counted with the allocation hook: allocations
// per iteration in steady state, and the bytes an idle context and a metric
// key cost.
#pragma once

#include <ostream>

// False when the hook is not loaded or counted nothing where the peer surely
// allocates: the run fails on it.
bool reportAllocations(std::ostream& out, int iterations);
// count: contexts and keys made for the per-item figures.
void reportMemory(std::ostream& out, int count);
