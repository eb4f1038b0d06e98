// Thread layer: threads, mutexes, lazy critical sections, auto-reset events,
// readers-writer locks and thread-local keys over POSIX.
//
// Every operation returns a small status code (THR_OK on success) and never
// throws. Until ThrInit (and again after ThrShutdown) the plain mutex
// lock/unlock and the event set/wait operations do nothing and return THR_OK.
//
// The locks are capabilities of the compiler's lock analysis: a lock call
// counts as taking the lock whatever it returns (the library's lock users go
// on after a failed or timed-out wait), so a caller that acts on the status
// must keep the analysis out of that one function.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "port/thread_annotations.h"

// ---- status codes -------------------------------------------------------
constexpr int THR_OK = 0;
constexpr int THR_KEY_NOT_CREATED = 2;
constexpr int THR_KEY_EXISTS = 3;
constexpr int THR_CS_SETUP_FAILED = 4;
constexpr int THR_NO_THREAD_RECORD = 5;
constexpr int THR_KEY_SLOT_FAILED = 6;
constexpr int THR_NO_MEMORY = 7;
constexpr int THR_NOT_SET_UP = 8;
constexpr int THR_OS_FAILED = 12;
constexpr int THR_CREATE_FAILED = 14;
constexpr int THR_TIMEOUT = 15;

// The time-out every lock user of the library passes (not "unlimited").
constexpr int32_t THR_LOCK_WAIT_MS = 0x7FFFFFFF;
// Event waits: -1 waits without limit.
constexpr int32_t THR_WAIT_FOREVER = -1;

// ---- thread ids ---------------------------------------------------------
// The operating system's thread id (gettid), cached per thread.
using ThrId = uint32_t;
constexpr ThrId THR_INVALID_ID = 0xFFFFFFFFu;

ThrId ThrGetCurrentId();
bool ThrIdEqual(ThrId a, ThrId b);
// Writes the id in decimal ("%lu") with a NUL; returns the number of digits.
// bufChars of 11 always suffices.
int ThrIdToString(char16_t* buf, size_t bufChars, ThrId id);

// ---- layer lifecycle ----------------------------------------------------
bool ThrIsInitialised();
void ThrSetNoAutoShutdown();
int ThrInit();
int ThrShutdown();

// ---- mutex (recursive) --------------------------------------------------
struct CAPABILITY("mutex") ThrMutex {
  pthread_mutex_t cs;
};
int ThrMutexInit(ThrMutex* m);
int ThrMutexLock(ThrMutex* m) ACQUIRE(m);    // no-op while the layer is uninitialised
int ThrMutexUnlock(ThrMutex* m) RELEASE(m);  // no-op while the layer is uninitialised
int ThrMutexDelete(ThrMutex* m);             // THR_NOT_SET_UP when the layer is not set up

// ---- recursive mutex with tag -------------------------------------------
// Works whether or not the layer is initialised. An unlock without a lock
// writes the PANIC line to stderr and ends the process.
struct CAPABILITY("mutex") ThrRecMtx {
  int32_t count = 0;
  std::atomic<ThrId> owner{THR_INVALID_ID};
  pthread_mutex_t cs;
  char16_t* tag = nullptr;  // owned copy, may be absent
};
int ThrRecMtxInit(ThrRecMtx* m, const char16_t* tag);
int ThrRecMtxLock(ThrRecMtx* m) ACQUIRE(m);
int ThrRecMtxUnlock(ThrRecMtx* m) RELEASE(m);
int ThrRecMtxDelete(ThrRecMtx* m);

// ---- auto-reset events --------------------------------------------------
struct ThrEvt;                                      // opaque
int ThrEvtCreate(ThrEvt** out);                     // non-signalled; THR_OS_FAILED
int ThrEvtSet(ThrEvt* e);                           // no-op while uninitialised
int ThrEvtWaitReset(ThrEvt* e, int32_t timeoutMs);  // THR_OK / THR_TIMEOUT / THR_OS_FAILED
int ThrEvtDelete(ThrEvt* e);                        // THR_NOT_SET_UP when not set up

// ---- readers-writer lock ------------------------------------------------
// Writers have precedence over new readers. The time-out applies to each
// wait, not to the whole call. One release undoes either mode.
struct CAPABILITY("rwlock") ThrRwLock;  // opaque; defined in thr_rwlock.cpp
int ThrRwLockInit(ThrRwLock** out);
// THR_OK / THR_TIMEOUT / THR_OS_FAILED
int ThrRwLockShared(ThrRwLock* l, int32_t timeoutMs) ACQUIRE_SHARED(l);
int ThrRwLockExclusive(ThrRwLock* l, int32_t timeoutMs) ACQUIRE(l);
int ThrRwLockRelease(ThrRwLock* l) RELEASE_GENERIC(l);
int ThrRwLockDelete(ThrRwLock* l);  // THR_NOT_SET_UP when the layer is not set up (still frees)

// ---- threads ------------------------------------------------------------
struct ThrAttr {
  int kind = 0;          // kind 2 is counted separately in the thread list
  size_t stackSize = 0;  // 0: platform default
};
using ThrStartFn = void* (*)(void*);
// THR_OK, THR_CREATE_FAILED, or THR_NOT_SET_UP when the layer is not initialised.
// *id is THR_INVALID_ID on failure.
int ThrCreate(const ThrAttr* attr, ThrStartFn fn, void* arg, ThrId* id);
// Runs the destructors of every key for this thread, then ends the thread.
[[noreturn]] void ThrExit(intptr_t exitCode);

// ---- thread-local keys --------------------------------------------------
using ThrKeyDestructor = void (*)(void*);
constexpr uint32_t THR_KEY_NONE = 0xFFFFFFFFu;
struct ThrKey {
  std::atomic<uint32_t> slot{THR_KEY_NONE};  // all bits set: not created
};
int ThrKeyCreate(ThrKey* key, ThrKeyDestructor dtor);  // THR_OK / KEY_EXISTS / CREATE_FAILED / NO_MEMORY
int ThrKeyDelete(ThrKey* key);                         // THR_OK / KEY_SLOT_FAILED / KEY_NOT_CREATED
int ThrKeyVarSet(ThrKey* key, void* value);            // creates the key on demand
void* ThrKeyVarGet(ThrKey* key);                       // creates the key on demand
