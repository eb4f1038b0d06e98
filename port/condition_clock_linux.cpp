#include "port/condition_clock.h"

int portInitCondition(pthread_cond_t* c) {
  pthread_condattr_t attr;
  int rc = pthread_condattr_init(&attr);
  if (rc != 0) return rc;
  // Time-outs must not jump with the wall clock.
  rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  if (rc == 0) rc = pthread_cond_init(c, &attr);
  pthread_condattr_destroy(&attr);
  return rc;
}

bool portReadConditionClock(timespec* now) { return clock_gettime(CLOCK_MONOTONIC, now) == 0; }
