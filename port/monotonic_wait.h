// Waits limited by a deadline on the monotonic clock (CLOCK_MONOTONIC), so
// that a wall clock set back or forward neither stretches nor cuts them.
// Each returns 0 on success, else the error (ETIMEDOUT when the deadline
// passed).
#pragma once

#include <pthread.h>
#include <time.h>

// Joins thread; after a failure the thread is still joinable.
int portJoinThreadBefore(pthread_t thread, const timespec& deadline);

// Locks m (a normal or recursive mutex).
int portLockMutexBefore(pthread_mutex_t* m, const timespec& deadline);
