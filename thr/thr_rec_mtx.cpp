// The recursive mutex with tag. Works whether or not the layer is
// initialised: the trace lock is used before and after it.
#include <new>

#include "thr/thr_internal.h"

namespace {

char16_t* copyTag(const char16_t* tag) {
  if (tag == nullptr) return nullptr;
  size_t n = 0;
  while (tag[n] != 0) ++n;
  char16_t* copy = new (std::nothrow) char16_t[n + 1];
  if (copy == nullptr) return nullptr;  // the tag only names the lock in a PANIC line
  for (size_t i = 0; i <= n; ++i) copy[i] = tag[i];
  return copy;
}

}  // namespace

int ThrRecMtxInit(ThrRecMtx* m, const char16_t* tag) {
  if (m == nullptr) return THR_OS_FAILED;
  m->count = 0;
  m->owner.store(THR_INVALID_ID, std::memory_order_relaxed);
  m->tag = copyTag(tag);
  return thrInitRecursiveMutex(&m->cs) == 0 ? THR_OK : THR_OS_FAILED;
}

// The lock primitives themselves: the lock analysis takes their
// annotations at their word.
int ThrRecMtxLock(ThrRecMtx* m) NO_THREAD_SAFETY_ANALYSIS {
  if (m == nullptr) return THR_OS_FAILED;
  if (pthread_mutex_lock(&m->cs) != 0) return THR_OS_FAILED;
  ++m->count;
  m->owner.store(ThrGetCurrentId(), std::memory_order_relaxed);
  return THR_OK;
}

int ThrRecMtxUnlock(ThrRecMtx* m) NO_THREAD_SAFETY_ANALYSIS {
  if (m == nullptr) return THR_OS_FAILED;
  // A thread that does not own the mutex has taken it no time at all, so
  // its unlock is one too many; the count belongs to the owner only.
  if (m->owner.load(std::memory_order_relaxed) != ThrGetCurrentId() || m->count <= 0) {
    thrPanicUnlock("ThrRecMtxUnlock", m->tag);
  }
  if (--m->count == 0) m->owner.store(THR_INVALID_ID, std::memory_order_relaxed);
  return pthread_mutex_unlock(&m->cs) == 0 ? THR_OK : THR_OS_FAILED;
}

int ThrRecMtxDelete(ThrRecMtx* m) {
  if (m == nullptr) return THR_OS_FAILED;
  delete[] m->tag;
  m->tag = nullptr;
  m->count = 0;
  m->owner.store(THR_INVALID_ID, std::memory_order_relaxed);
  return pthread_mutex_destroy(&m->cs) == 0 ? THR_OK : THR_OS_FAILED;
}
