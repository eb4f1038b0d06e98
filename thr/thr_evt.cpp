// Auto-reset events: a flag under a mutex, waited for on a monotonic
// condition variable. One set releases one wait; a set with nobody waiting
// is kept until the next wait.
#include <new>

#include "thr/thr_internal.h"

struct ThrEvt {
  pthread_mutex_t lock;
  pthread_cond_t cond;
  bool signalled = false;  // guarded by lock
};

int ThrEvtCreate(ThrEvt** out) {
  if (out == nullptr) return THR_OS_FAILED;
  *out = nullptr;
  ThrEvt* e = new (std::nothrow) ThrEvt();
  if (e == nullptr) return THR_OS_FAILED;
  if (pthread_mutex_init(&e->lock, nullptr) != 0) {
    delete e;
    return THR_OS_FAILED;
  }
  if (thrInitMonotonicCond(&e->cond) != 0) {
    pthread_mutex_destroy(&e->lock);
    delete e;
    return THR_OS_FAILED;
  }
  *out = e;
  return THR_OK;
}

int ThrEvtSet(ThrEvt* e) {
  if (!ThrIsInitialised()) return THR_OK;
  if (e == nullptr) return THR_OS_FAILED;
  if (pthread_mutex_lock(&e->lock) != 0) return THR_OS_FAILED;
  e->signalled = true;
  const int rc = pthread_cond_signal(&e->cond);
  pthread_mutex_unlock(&e->lock);
  return rc == 0 ? THR_OK : THR_OS_FAILED;
}

int ThrEvtWaitReset(ThrEvt* e, int32_t timeoutMs) {
  if (!ThrIsInitialised()) return THR_OK;
  if (e == nullptr) return THR_OS_FAILED;
  if (pthread_mutex_lock(&e->lock) != 0) return THR_OS_FAILED;
  const int status = thrWaitFlag(&e->cond, &e->lock, &e->signalled, timeoutMs);
  pthread_mutex_unlock(&e->lock);
  return status;
}

int ThrEvtDelete(ThrEvt* e) {
  if (e == nullptr) return THR_OS_FAILED;
  int status = THR_OK;
  if (pthread_cond_destroy(&e->cond) != 0 || pthread_mutex_destroy(&e->lock) != 0) status = THR_OS_FAILED;
  delete e;
  return thrIsSetUp() ? status : THR_NOT_SET_UP;
}
