// The plain mutex: one recursive pthread mutex. Lock and unlock do nothing
// while the layer is not initialised, so objects used before start-up (the
// configuration) need no special path.
#include "thr/thr_internal.h"

int ThrMutexInit(ThrMutex* m) {
  if (m == nullptr) return THR_OS_FAILED;
  return thrInitRecursiveMutex(&m->cs) == 0 ? THR_OK : THR_OS_FAILED;
}

// The lock primitives themselves: the lock analysis takes their
// annotations at their word.
int ThrMutexLock(ThrMutex* m) NO_THREAD_SAFETY_ANALYSIS {
  if (!ThrIsInitialised()) return THR_OK;
  if (m == nullptr) return THR_OS_FAILED;
  return pthread_mutex_lock(&m->cs) == 0 ? THR_OK : THR_OS_FAILED;
}

int ThrMutexUnlock(ThrMutex* m) NO_THREAD_SAFETY_ANALYSIS {
  if (!ThrIsInitialised()) return THR_OK;
  if (m == nullptr) return THR_OS_FAILED;
  // A recursive mutex refuses an unlock by a thread that does not hold it
  // (e.g. one locked before start-up), which is then only reported.
  return pthread_mutex_unlock(&m->cs) == 0 ? THR_OK : THR_OS_FAILED;
}

int ThrMutexDelete(ThrMutex* m) {
  if (m == nullptr) return THR_OS_FAILED;
  pthread_mutex_destroy(&m->cs);
  return thrIsSetUp() ? THR_OK : THR_NOT_SET_UP;
}
