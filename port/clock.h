// The system's clocks, read inline (the timing hot path reads one at every
// start and end of a call). Each reader fills now and returns false when the
// clock cannot be read.
//   wall:             seconds and nanoseconds since 1970; steps with the date
//   monotonic:        never steps; starts at an arbitrary point
//   coarse monotonic: the monotonic clock at a resolution of a few
//                     milliseconds, at a fraction of the cost
//   thread CPU:       kernel plus user CPU time of the calling thread
#pragma once

#include <time.h>

#if defined(__linux__)
inline bool portReadWallClock(timespec* now) { return clock_gettime(CLOCK_REALTIME, now) == 0; }
inline bool portReadMonotonicClock(timespec* now) { return clock_gettime(CLOCK_MONOTONIC, now) == 0; }
inline bool portReadCoarseMonotonicClock(timespec* now) { return clock_gettime(CLOCK_MONOTONIC_COARSE, now) == 0; }
inline bool portReadThreadCpuClock(timespec* now) { return clock_gettime(CLOCK_THREAD_CPUTIME_ID, now) == 0; }
#elif defined(_WIN32)
// Windows: the system time, the performance counter, the tick count and the
// thread's times (clock_windows.cpp).
bool portReadWallClock(timespec* now);
bool portReadMonotonicClock(timespec* now);
bool portReadCoarseMonotonicClock(timespec* now);
bool portReadThreadCpuClock(timespec* now);
#else
#error "no clock port for this platform"
#endif
