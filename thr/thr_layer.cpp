// The layer's lifecycle and its list of threads.
//
// The lifecycle and list locks are static mutexes that live for the
// whole process: the layer can be set up, shut down and set up again, and a
// thread still leaving a lock while another shuts down never touches a
// destroyed mutex. "Set up" is therefore only a flag here.
#include <errno.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "port/thread_join.h"
#include "thr/thr_internal.h"
#include "thr/thr_static_mutex.h"

namespace {

struct ThreadRecord {
  ThrId id;
  pthread_t handle;
  int kind;
  bool created;  // started by ThrCreate (joined at shutdown)
};

// How long ThrShutdown waits, in all, for the layer's threads to end.
constexpr int32_t kJoinWaitMs = 2000;

std::atomic<bool> g_setUp{false};
std::atomic<bool> g_initialised{false};
std::atomic<bool> g_noAutoShutdown{false};
// Serialises ThrInit and ThrShutdown.
ThrStaticMutex g_lifecycleLock;
bool g_atExitRegistered GUARDED_BY(g_lifecycleLock) = false;
ThrStaticMutex g_threadListLock{ThrStaticMutex::Recursive{}};
std::vector<ThreadRecord>* g_threads GUARDED_BY(g_threadListLock) = nullptr;
uint32_t g_threadCount GUARDED_BY(g_threadListLock) = 0;
uint32_t g_kind2Count GUARDED_BY(g_threadListLock) = 0;

void shutdownAtExit() { ThrShutdown(); }

std::vector<ThreadRecord> takeThreadList() {
  std::vector<ThreadRecord> taken;
  ThrStaticMutexHold hold(g_threadListLock);
  if (g_threads != nullptr) {
    taken.swap(*g_threads);
    delete g_threads;
    g_threads = nullptr;
  }
  g_threadCount = 0;
  g_kind2Count = 0;
  return taken;
}

// The layer's own threads must really have ended before the library is
// gone; one that does not end in time is let go (detached).
void finishThreads(const std::vector<ThreadRecord>& threads) {
  const timespec deadline = thrDeadlineAfterMs(kJoinWaitMs);
  const pthread_t self = pthread_self();
  for (const ThreadRecord& t : threads) {
    if (!t.created) continue;
    if (pthread_equal(t.handle, self) || portJoinThreadBefore(t.handle, deadline) != 0) {
      pthread_detach(t.handle);
    }
  }
}

}  // namespace

bool thrIsSetUp() { return g_setUp.load(std::memory_order_acquire); }

int thrEnsureSetUp() {
  g_setUp.store(true, std::memory_order_release);
  return THR_OK;
}

int thrListAdd(ThrId id, pthread_t handle, int kind, bool created) {
  int status = THR_OK;
  ThrStaticMutexHold hold(g_threadListLock);
  try {
    if (g_threads == nullptr) g_threads = new std::vector<ThreadRecord>();
    g_threads->push_back(ThreadRecord{id, handle, kind, created});
    ++g_threadCount;
    if (kind == 2) ++g_kind2Count;
  } catch (...) {
    status = THR_NO_MEMORY;
  }
  return status;
}

uint32_t thrListedThreads() {
  ThrStaticMutexHold hold(g_threadListLock);
  return g_threadCount;
}

uint32_t thrListedKind2Threads() {
  ThrStaticMutexHold hold(g_threadListLock);
  return g_kind2Count;
}

// Only the forking thread runs in the child, and the list lock is being made
// anew: the list is reset without it.
void thrForgetThreadsInChild() NO_THREAD_SAFETY_ANALYSIS {
  // Another thread may have held any of them at the fork; they are made anew.
  g_lifecycleLock.renew();
  g_threadListLock.renew();
  g_threads = nullptr;  // the parent's records: left, not freed, as a lock may guard them
  g_threadCount = 0;
  g_kind2Count = 0;
  g_setUp.store(false, std::memory_order_release);
  g_initialised.store(false, std::memory_order_release);
}

bool ThrIsInitialised() { return g_initialised.load(std::memory_order_acquire); }

void ThrSetNoAutoShutdown() { g_noAutoShutdown.store(true, std::memory_order_release); }

int ThrInit() {
  ThrStaticMutexHold hold(g_lifecycleLock);
  int status = THR_OK;
  if (!g_initialised.load(std::memory_order_acquire)) {
    thrRegisterForkHandler();
    thrEnsureSetUp();
    // The caller is listed, but it is the host's thread: never joined.
    if (thrListAdd(ThrGetCurrentId(), pthread_self(), 0, false) != THR_OK) {
      status = THR_OS_FAILED;
    } else {
      if (!g_noAutoShutdown.load(std::memory_order_acquire) && !g_atExitRegistered) {
        g_atExitRegistered = std::atexit(shutdownAtExit) == 0;
      }
      g_initialised.store(true, std::memory_order_release);
    }
  }
  return status;
}

int ThrShutdown() {
  ThrStaticMutexHold hold(g_lifecycleLock);
  // Joined outside the list lock: a thread still ending may need it.
  finishThreads(takeThreadList());
  g_setUp.store(false, std::memory_order_release);
  g_initialised.store(false, std::memory_order_release);
  return THR_OK;
}
