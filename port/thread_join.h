// Joining a thread with a limit.
#pragma once

#include <pthread.h>
#include <time.h>

// Joins thread unless the monotonic clock (CLOCK_MONOTONIC) passes deadline
// first, so that a wall clock set back cannot stretch the wait; 0 when
// joined, else the error (ETIMEDOUT when the deadline passed), and the thread
// is then still joinable.
int portJoinThreadBefore(pthread_t thread, const timespec& deadline);
