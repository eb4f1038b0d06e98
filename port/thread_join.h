// Joining a thread with a limit.
#pragma once

#include <pthread.h>
#include <time.h>

// Joins thread unless the condition clock (port/condition_clock.h) passes
// deadline first; 0 when joined, else the error (ETIMEDOUT when the deadline
// passed), and the thread is then still joinable.
int portJoinThreadBefore(pthread_t thread, const timespec& deadline);
