#include "thr/thr_sharded_rwlock.h"

#include <errno.h>
#include <pthread.h>

#include <atomic>
#include <new>

#include "thr/thr_internal.h"

namespace {

constexpr int kSlots = 16;

struct alignas(64) ReaderSlot {
  std::atomic<int32_t> readers{0};
};

// Threads take slots round-robin in the order they first read, so the
// readers that run at the same time almost always count in different slots.
int mySlot() {
  static std::atomic<uint32_t> nextSlot{0};
  thread_local const int slot = static_cast<int>(nextSlot.fetch_add(1, std::memory_order_relaxed) % kSlots);
  return slot;
}

}  // namespace

struct ThrShardedRwLock {
  ReaderSlot slots[kSlots];
  alignas(64) std::atomic<int32_t> writer{0};  // 1 while a writer holds or waits for the lock
  pthread_mutex_t m;                           // guards writerIn and the two waits below
  bool writerIn = false;                       // one writer at a time holds or waits for the readers
  pthread_cond_t writerDone;                   // readers and further writers wait here for the writer to leave
  pthread_cond_t readersGone;                  // the writer waits here for the slots to empty
};

namespace {

bool anyReader(const ThrShardedRwLock* l) {
  for (const ReaderSlot& slot : l->slots) {
    if (slot.readers.load(std::memory_order_seq_cst) != 0) return true;
  }
  return false;
}

// Waits (m held) on cond while busy() holds, without limit when timeoutMs is
// negative, else until deadline; THR_OK, THR_TIMEOUT or THR_OS_FAILED.
template <typename Busy>
int waitWhile(ThrShardedRwLock* l, pthread_cond_t* cond, int32_t timeoutMs, const timespec& deadline, Busy busy) {
  while (busy()) {
    const int rc = timeoutMs < 0 ? pthread_cond_wait(cond, &l->m) : pthread_cond_timedwait(cond, &l->m, &deadline);
    if (rc == ETIMEDOUT) return busy() ? THR_TIMEOUT : THR_OK;
    if (rc != 0) return THR_OS_FAILED;
  }
  return THR_OK;
}

// The writer leaves (m held).
void leave(ThrShardedRwLock* l) {
  l->writerIn = false;
  l->writer.store(0, std::memory_order_seq_cst);
  pthread_cond_broadcast(&l->writerDone);
}

void wakeAll(ThrShardedRwLock* l, pthread_cond_t* cond) {
  pthread_mutex_lock(&l->m);
  pthread_cond_broadcast(cond);
  pthread_mutex_unlock(&l->m);
}

}  // namespace

int ThrShardedRwLockInit(ThrShardedRwLock** out) {
  *out = nullptr;
  auto* l = new (std::nothrow) ThrShardedRwLock();
  if (l == nullptr) return THR_NO_MEMORY;
  if (pthread_mutex_init(&l->m, nullptr) != 0 || thrInitMonotonicCond(&l->writerDone) != 0 ||
      thrInitMonotonicCond(&l->readersGone) != 0) {
    delete l;
    return THR_OS_FAILED;
  }
  *out = l;
  return THR_OK;
}

// The lock primitives themselves: the lock analysis takes their
// annotations at their word.
int ThrShardedRwLockShared(ThrShardedRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  std::atomic<int32_t>& mine = l->slots[mySlot()].readers;
  for (;;) {
    // Count first, then look for a writer: a writer that raised its flag
    // before our count sees the count, one that raised it after sees it too.
    mine.fetch_add(1, std::memory_order_seq_cst);
    if (l->writer.load(std::memory_order_seq_cst) == 0) return THR_OK;
    mine.fetch_sub(1, std::memory_order_seq_cst);
    wakeAll(l, &l->readersGone);
    if (timeoutMs == 0) return THR_TIMEOUT;
    const timespec deadline = thrDeadlineAfterMs(timeoutMs < 0 ? 0 : timeoutMs);
    pthread_mutex_lock(&l->m);
    const int rc = waitWhile(l, &l->writerDone, timeoutMs, deadline,
                             [l] { return l->writer.load(std::memory_order_seq_cst) != 0; });
    pthread_mutex_unlock(&l->m);
    if (rc != THR_OK) return rc;
  }
}

int ThrShardedRwLockReleaseShared(ThrShardedRwLock* l) NO_THREAD_SAFETY_ANALYSIS {
  l->slots[mySlot()].readers.fetch_sub(1, std::memory_order_seq_cst);
  if (l->writer.load(std::memory_order_seq_cst) != 0) wakeAll(l, &l->readersGone);
  return THR_OK;
}

// The time-out applies to each wait: for the writer before, then for the readers.
int ThrShardedRwLockExclusive(ThrShardedRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  const int32_t limitMs = timeoutMs < 0 ? 0 : timeoutMs;
  pthread_mutex_lock(&l->m);
  int rc = waitWhile(l, &l->writerDone, timeoutMs, thrDeadlineAfterMs(limitMs), [l] { return l->writerIn; });
  if (rc == THR_OK) {
    l->writerIn = true;
    l->writer.store(1, std::memory_order_seq_cst);
    rc = waitWhile(l, &l->readersGone, timeoutMs, thrDeadlineAfterMs(limitMs), [l] { return anyReader(l); });
    // Neither held nor waited for: let the readers and the next writer in.
    if (rc != THR_OK) leave(l);
  }
  pthread_mutex_unlock(&l->m);
  return rc;
}

int ThrShardedRwLockReleaseExclusive(ThrShardedRwLock* l) NO_THREAD_SAFETY_ANALYSIS {
  pthread_mutex_lock(&l->m);
  leave(l);
  pthread_mutex_unlock(&l->m);
  return THR_OK;
}

int ThrShardedRwLockDelete(ThrShardedRwLock* l) {
  if (l == nullptr) return THR_OK;
  pthread_cond_destroy(&l->writerDone);
  pthread_cond_destroy(&l->readersGone);
  pthread_mutex_destroy(&l->m);
  delete l;
  return THR_OK;
}
