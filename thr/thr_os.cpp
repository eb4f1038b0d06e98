// Thin wrappers over the pthread calls the layer repeats.
#include <errno.h>

#include "port/condition_clock.h"
#include "thr/thr_internal.h"

int thrInitRecursiveMutex(pthread_mutex_t* m) {
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) rc = pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc;
}

int thrInitMonotonicCond(pthread_cond_t* c) { return portInitCondition(c); }

timespec thrDeadlineAfterMs(int32_t ms) {
  timespec now{};
  portReadConditionClock(&now);
  int64_t nsec = static_cast<int64_t>(now.tv_nsec) + static_cast<int64_t>(ms % 1000) * 1000000;
  now.tv_sec += ms / 1000 + nsec / 1000000000;
  now.tv_nsec = static_cast<long>(nsec % 1000000000);
  return now;
}

int thrWaitFlag(pthread_cond_t* c, pthread_mutex_t* m, bool* flag, int32_t timeoutMs) {
  if (timeoutMs < 0) {
    while (!*flag) {
      if (pthread_cond_wait(c, m) != 0) return THR_OS_FAILED;
    }
  } else {
    const timespec deadline = thrDeadlineAfterMs(timeoutMs);
    while (!*flag) {
      int rc = pthread_cond_timedwait(c, m, &deadline);
      if (rc == ETIMEDOUT) {
        if (*flag) break;  // signalled just as the limit ended: take it
        return THR_TIMEOUT;
      }
      if (rc != 0) return THR_OS_FAILED;
    }
  }
  *flag = false;
  return THR_OK;
}
