// Thread creation and exit. A new thread reports its kernel id before it
// runs the caller's function, so that the id can be entered into the thread
// list and handed back.
#include "port/thread_stack.h"
#include "thr/thr_internal.h"

namespace {

struct StartRecord {
  ThrStartFn fn;
  void* arg;
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t started = PTHREAD_COND_INITIALIZER;
  ThrId id = THR_INVALID_ID;  // guarded by lock; set by the new thread
  bool reported = false;      // guarded by lock
};

void* threadMain(void* p) {
  auto* rec = static_cast<StartRecord*>(p);
  const ThrStartFn fn = rec->fn;
  void* const arg = rec->arg;
  pthread_mutex_lock(&rec->lock);
  rec->id = ThrGetCurrentId();
  rec->reported = true;
  pthread_cond_signal(&rec->started);
  pthread_mutex_unlock(&rec->lock);  // rec belongs to the creator from here
  return fn(arg);
}

bool startThread(const ThrAttr* attr, StartRecord* rec, pthread_t* handle) {
  pthread_attr_t pattr;
  if (pthread_attr_init(&pattr) != 0) return false;
  bool ok = true;
  if (attr != nullptr && attr->stackSize != 0) {
    ok = pthread_attr_setstacksize(&pattr, portThreadStackSize(attr->stackSize)) == 0;
  }
  ok = ok && pthread_create(handle, &pattr, threadMain, rec) == 0;
  pthread_attr_destroy(&pattr);
  return ok;
}

ThrId waitForId(StartRecord* rec) {
  pthread_mutex_lock(&rec->lock);
  while (!rec->reported) pthread_cond_wait(&rec->started, &rec->lock);
  const ThrId id = rec->id;
  pthread_mutex_unlock(&rec->lock);
  return id;
}

}  // namespace

int ThrCreate(const ThrAttr* attr, ThrStartFn fn, void* arg, ThrId* id) {
  if (id != nullptr) *id = THR_INVALID_ID;
  if (!ThrIsInitialised()) return THR_NOT_SET_UP;
  if (fn == nullptr) return THR_CREATE_FAILED;
  StartRecord rec;
  rec.fn = fn;
  rec.arg = arg;
  pthread_t handle;
  if (!startThread(attr, &rec, &handle)) return THR_CREATE_FAILED;
  const ThrId newId = waitForId(&rec);
  pthread_cond_destroy(&rec.started);
  pthread_mutex_destroy(&rec.lock);
  if (thrListAdd(newId, handle, attr != nullptr ? attr->kind : 0, true) != THR_OK) {
    // Running but unlisted: nobody would join it, so let it go.
    pthread_detach(handle);
  }
  if (id != nullptr) *id = newId;
  return THR_OK;
}

void ThrExit(intptr_t exitCode) {
  thrRunKeyDestructors();
  pthread_exit(reinterpret_cast<void*>(exitCode));
  __builtin_unreachable();  // not every thread library marks pthread_exit so
}
