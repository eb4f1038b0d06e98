// Internals shared by the thread layer's own files. Not for other rooms,
// except the test-only probes at the end, which the layer's tests use.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

#include "thr/thr.h"
#include "thr/thr_static_mutex.h"

// ---- layer state (thr_layer.cpp) ----------------------------------------
// Set up: the layer's lists are usable. Initialised: ThrInit has run.
// Both read without a lock (acquire loads).
bool thrIsSetUp();
// Sets the layer up if it is not yet; THR_OK (it cannot fail on POSIX).
int thrEnsureSetUp();
// Enters a thread into the thread list. created: started by ThrCreate, so
// ThrShutdown joins it. THR_OK or THR_NO_MEMORY.
int thrListAdd(ThrId id, pthread_t handle, int kind, bool created);

// In a forked child: the layer is neither set up nor initialised, its locks
// are new, and the threads of the parent are forgotten (never joined).
void thrForgetThreadsInChild();
// Registers the layer's fork handler for the child, once per process.
void thrRegisterForkHandler();

// ---- key list (thr_key.cpp) ---------------------------------------------
// In a forked child: a new key-list lock (another thread may have held it).
void thrRenewKeyListLock();
// For every key with a destructor: clears the calling thread's value and
// calls the destructor with the old one (also when empty), under the
// key-list lock.
void thrRunKeyDestructors();

// ---- OS helpers (thr_os.cpp) --------------------------------------------
// 0 or the pthread error.
int thrInitRecursiveMutex(pthread_mutex_t* m);
// Condition variable whose timed waits run on the condition clock
// (port/condition_clock.h: monotonic where the system allows).
int thrInitMonotonicCond(pthread_cond_t* c);
// The condition clock now + ms (ms >= 0).
timespec thrDeadlineAfterMs(int32_t ms);
// Waits on c (m held) until *flag is set or the per-wait limit ends;
// a negative timeout waits without limit. Consumes the flag (auto-reset).
// THR_OK, THR_TIMEOUT or THR_OS_FAILED.
int thrWaitFlag(pthread_cond_t* c, pthread_mutex_t* m, bool* flag, int32_t timeoutMs);

// ---- end of the process on a lock-count fault (thr_panic.cpp) -------------
// Writes "<fn>: PANIC: #unlock > #lock, tag: \"<tag or not set>\"\n" to
// standard error and ends the process.
[[noreturn]] void thrPanicUnlock(const char* fn, const char16_t* tag);

// ---- test-only probes ----------------------------------------------------
// Snapshot of a readers-writer lock's counters (no lock taken).
struct ThrRwLockCounts {
  int32_t state;  // readers inside, -1 while a writer holds it, 0 free
  uint32_t waitingWriters;
  uint32_t waitingReaders;
};
ThrRwLockCounts thrRwLockCounts(const ThrRwLock* l);
// Number of records in the thread list and of those of kind 2.
uint32_t thrListedThreads();
uint32_t thrListedKind2Threads();
