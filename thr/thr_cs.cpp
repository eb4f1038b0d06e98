// The lazy critical section: zero-filled storage is a valid section that the
// first lock sets up (double-checked under the global critical section).
#include "thr/thr_internal.h"

namespace {

bool setUpSection(ThrCriticalSection* s) {
  {
    ThrStaticMutexHold hold(thrGlobalLock());
    if (s->eyeCatcher.load(std::memory_order_acquire) != THR_CS_EYE_CATCHER &&
        thrInitRecursiveMutex(&s->cs) == 0) {
      s->count = 0;
      s->owner.store(THR_INVALID_ID, std::memory_order_relaxed);
      s->eyeCatcher.store(THR_CS_EYE_CATCHER, std::memory_order_release);
    }
  }
  return s->eyeCatcher.load(std::memory_order_acquire) == THR_CS_EYE_CATCHER;
}

}  // namespace

// The lock primitives themselves: the lock analysis takes their
// annotations at their word.
int ThrCSLock(ThrCriticalSection* s) NO_THREAD_SAFETY_ANALYSIS {
  if (!ThrIsInitialised()) return THR_OK;
  if (s == nullptr) return THR_CS_SETUP_FAILED;
  if (!thrIsSetUp()) {
    int status = thrEnsureSetUp();
    if (status != THR_OK) return status;
  }
  if (s->eyeCatcher.load(std::memory_order_acquire) != THR_CS_EYE_CATCHER && !setUpSection(s)) {
    return THR_CS_SETUP_FAILED;
  }
  if (pthread_mutex_lock(&s->cs) != 0) return THR_OS_FAILED;
  ++s->count;
  s->owner.store(ThrGetCurrentId(), std::memory_order_relaxed);
  return THR_OK;
}

int ThrCSUnlock(ThrCriticalSection* s) NO_THREAD_SAFETY_ANALYSIS {
  if (!ThrIsInitialised()) return THR_OK;
  if (s == nullptr || !thrIsSetUp() ||
      s->eyeCatcher.load(std::memory_order_acquire) != THR_CS_EYE_CATCHER) {
    return THR_NOT_SET_UP;
  }
  // As with the recursive mutex: only the owner holds a count.
  if (s->owner.load(std::memory_order_relaxed) != ThrGetCurrentId() || s->count <= 0) {
    thrPanicUnlock("ThrCSUnlock", s->tag);
  }
  if (--s->count == 0) s->owner.store(THR_INVALID_ID, std::memory_order_relaxed);
  return pthread_mutex_unlock(&s->cs) == 0 ? THR_OK : THR_OS_FAILED;
}
