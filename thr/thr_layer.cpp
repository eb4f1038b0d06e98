// The layer's lifecycle and its list of threads.
//
// The global and list locks are static recursive mutexes that live for the
// whole process: the layer can be set up, shut down and set up again, and a
// thread still leaving a lock while another shuts down never touches a
// destroyed mutex. "Set up" is therefore only a flag here.
#include <errno.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "thr/thr_internal.h"

namespace {

struct ThreadRecord {
  ThrId id;
  pthread_t handle;
  int kind;
  bool created;  // started by ThrCreate (joined at shutdown)
};

// How long ThrShutdown waits, in all, for the layer's threads to end.
constexpr int kJoinWaitSeconds = 2;

std::atomic<bool> g_setUp{false};
std::atomic<bool> g_initialised{false};
std::atomic<bool> g_noAutoShutdown{false};
bool g_atExitRegistered = false;  // guarded by g_lifecycleLock

pthread_mutex_t g_globalLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
// Serialises ThrInit and ThrShutdown.
pthread_mutex_t g_lifecycleLock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_threadListLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::vector<ThreadRecord>* g_threads = nullptr;  // guarded by g_threadListLock
uint32_t g_threadCount = 0;                      // guarded by g_threadListLock
uint32_t g_kind2Count = 0;                       // guarded by g_threadListLock

void shutdownAtExit() { ThrShutdown(); }

std::vector<ThreadRecord> takeThreadList() {
  std::vector<ThreadRecord> taken;
  pthread_mutex_lock(&g_threadListLock);
  if (g_threads != nullptr) {
    taken.swap(*g_threads);
    delete g_threads;
    g_threads = nullptr;
  }
  g_threadCount = 0;
  g_kind2Count = 0;
  pthread_mutex_unlock(&g_threadListLock);
  return taken;
}

timespec realtimeAfterSeconds(int seconds) {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  t.tv_sec += seconds;
  return t;
}

// The layer's own threads must really have ended before the library is
// gone; one that does not end in time is let go (detached).
void finishThreads(const std::vector<ThreadRecord>& threads) {
  const timespec deadline = realtimeAfterSeconds(kJoinWaitSeconds);
  const pthread_t self = pthread_self();
  for (const ThreadRecord& t : threads) {
    if (!t.created) continue;
    if (pthread_equal(t.handle, self) || pthread_timedjoin_np(t.handle, nullptr, &deadline) != 0) {
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

pthread_mutex_t* thrGlobalLock() { return &g_globalLock; }

int thrListAdd(ThrId id, pthread_t handle, int kind, bool created) {
  int status = THR_OK;
  pthread_mutex_lock(&g_threadListLock);
  try {
    if (g_threads == nullptr) g_threads = new std::vector<ThreadRecord>();
    g_threads->push_back(ThreadRecord{id, handle, kind, created});
    ++g_threadCount;
    if (kind == 2) ++g_kind2Count;
  } catch (...) {
    status = THR_NO_MEMORY;
  }
  pthread_mutex_unlock(&g_threadListLock);
  return status;
}

uint32_t thrListedThreads() {
  pthread_mutex_lock(&g_threadListLock);
  const uint32_t n = g_threadCount;
  pthread_mutex_unlock(&g_threadListLock);
  return n;
}

uint32_t thrListedKind2Threads() {
  pthread_mutex_lock(&g_threadListLock);
  const uint32_t n = g_kind2Count;
  pthread_mutex_unlock(&g_threadListLock);
  return n;
}

void thrForgetThreadsInChild() {
  // Another thread may have held any of them at the fork; they are made anew.
  g_globalLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
  g_lifecycleLock = PTHREAD_MUTEX_INITIALIZER;
  g_threadListLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
  g_threads = nullptr;  // the parent's records: left, not freed, as a lock may guard them
  g_threadCount = 0;
  g_kind2Count = 0;
  g_setUp.store(false, std::memory_order_release);
  g_initialised.store(false, std::memory_order_release);
}

bool ThrIsInitialised() { return g_initialised.load(std::memory_order_acquire); }

void ThrSetNoAutoShutdown() { g_noAutoShutdown.store(true, std::memory_order_release); }

int ThrInit() {
  pthread_mutex_lock(&g_lifecycleLock);
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
  pthread_mutex_unlock(&g_lifecycleLock);
  return status;
}

int ThrShutdown() {
  pthread_mutex_lock(&g_lifecycleLock);
  // Joined outside the list lock: a thread still ending may need it.
  finishThreads(takeThreadList());
  g_setUp.store(false, std::memory_order_release);
  g_initialised.store(false, std::memory_order_release);
  pthread_mutex_unlock(&g_lifecycleLock);
  return THR_OK;
}
