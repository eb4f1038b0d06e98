// Waiting steps of a spinning thread: a hint to the processor that the
// thread spins (inline: it sits in the spin lock's loop), and giving the
// processor to another thread.
#pragma once

#if defined(__linux__) && defined(__x86_64__)
#include <sched.h>

// Lets a sibling hyper-thread run and saves power while the thread spins.
inline void portCpuRelax() { __builtin_ia32_pause(); }
// Offers the processor to another ready thread.
inline void portYieldThread() { sched_yield(); }
#elif defined(_WIN32) && defined(__x86_64__)
inline void portCpuRelax() { __builtin_ia32_pause(); }
// SwitchToThread (spin_wait_windows.cpp), so that windows.h stays out of the
// spin lock's includers.
void portYieldThread();
#else
#error "no spin-wait port for this platform"
#endif
