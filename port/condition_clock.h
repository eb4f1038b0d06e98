// Condition variables for timed waits, and the clock their absolute
// deadlines are read against: the monotonic clock where the thread library
// can wait on it, so that a wall clock set back cannot stretch a wait.
#pragma once

#include <pthread.h>
#include <time.h>

// Initialises c for waits on the condition clock; 0 or the error.
int portInitCondition(pthread_cond_t* c);
// The condition clock now; false when it cannot be read.
bool portReadConditionClock(timespec* now);
