// Readers-writer lock with writer precedence.
//
// The whole lock state is one atomic word: readers inside, a writer bit, and
// the counts of waiting writers and waiting readers. Uncontended acquires and
// releases are a single compare-and-swap and never touch the mutex. Callers
// that must wait, and releases that must wake somebody, take the mutex, and
// the two auto-reset "events" (a flag and a condition variable each, under
// that mutex) carry the wake-ups:
//  - a reader may enter while no writer holds the lock and none waits;
//  - the last reader out wakes one waiting writer; a writer's release wakes
//    a writer if one waits, else one reader, and each reader that enters
//    after a wake-up passes it on to the next waiting reader;
//  - a writer whose wait fails leaves neither holding nor waiting.
// The waiting counts change only under the mutex, so a release under the
// mutex sees them stable; a fast-path release never skips a needed wake-up
// because registering as a waiter and releasing are CASes on the same word.
#include <new>

#include "thr/thr_internal.h"

namespace {

constexpr uint64_t kReaderOne = 1;
constexpr uint64_t kReadersMask = (uint64_t{1} << 20) - 1;
constexpr uint64_t kWriterBit = uint64_t{1} << 20;
constexpr int kWaitingWritersShift = 21;
constexpr uint64_t kWaitingWriterOne = uint64_t{1} << kWaitingWritersShift;
constexpr int kWaitingReadersShift = 41;
constexpr uint64_t kWaitingReaderOne = uint64_t{1} << kWaitingReadersShift;
constexpr uint64_t kCountMask = (uint64_t{1} << 20) - 1;

uint64_t readersInside(uint64_t w) { return w & kReadersMask; }
uint64_t waitingWriters(uint64_t w) { return (w >> kWaitingWritersShift) & kCountMask; }
uint64_t waitingReaders(uint64_t w) { return (w >> kWaitingReadersShift) & kCountMask; }
bool readersMayEnter(uint64_t w) { return (w & kWriterBit) == 0 && waitingWriters(w) == 0; }
bool isFree(uint64_t w) { return (w & (kWriterBit | kReadersMask)) == 0; }

enum class Step { kEntered, kRegistered, kBlocked };

}  // namespace

// Own cache line: bucket locks sit side by side and are taken by different threads.
struct alignas(64) ThrRwLock {
  std::atomic<uint64_t> word{0};
  pthread_mutex_t cs;
  pthread_cond_t readerCond;
  pthread_cond_t writerCond;
  bool readerSignalled = false;  // guarded by cs
  bool writerSignalled = false;  // guarded by cs
};

namespace {

void setEvent(pthread_cond_t* cond, bool* flag) {
  *flag = true;
  pthread_cond_signal(cond);
}

// One attempt of a reader (cs held): enter, or register as waiting when
// allowed to wait. 'registered' says whether this caller already counts.
Step readerStep(ThrRwLock* l, bool registered, bool mayWait, uint64_t* after) {
  uint64_t w = l->word.load(std::memory_order_relaxed);
  for (;;) {
    uint64_t next;
    Step step;
    if (readersMayEnter(w)) {
      next = w + kReaderOne - (registered ? kWaitingReaderOne : 0);
      step = Step::kEntered;
    } else if (registered || !mayWait) {
      return Step::kBlocked;
    } else {
      next = w + kWaitingReaderOne;
      step = Step::kRegistered;
    }
    if (l->word.compare_exchange_weak(w, next, std::memory_order_acq_rel, std::memory_order_relaxed)) {
      *after = next;
      return step;
    }
  }
}

// The writer's counterpart: take a free lock (even past other waiting
// writers), or register as waiting.
Step writerStep(ThrRwLock* l, bool registered, bool mayWait) {
  uint64_t w = l->word.load(std::memory_order_relaxed);
  for (;;) {
    uint64_t next;
    Step step;
    if (isFree(w)) {
      next = (w | kWriterBit) - (registered ? kWaitingWriterOne : 0);
      step = Step::kEntered;
    } else if (registered || !mayWait) {
      return Step::kBlocked;
    } else {
      next = w + kWaitingWriterOne;
      step = Step::kRegistered;
    }
    if (l->word.compare_exchange_weak(w, next, std::memory_order_acq_rel, std::memory_order_relaxed)) {
      return step;
    }
  }
}

int sharedSlow(ThrRwLock* l, int32_t timeoutMs) {
  if (pthread_mutex_lock(&l->cs) != 0) return THR_OS_FAILED;
  bool registered = false;
  bool woken = false;
  for (;;) {
    uint64_t after = 0;
    const Step step = readerStep(l, registered, timeoutMs != 0, &after);
    if (step == Step::kEntered) {
      if (woken && waitingReaders(after) > 0) setEvent(&l->readerCond, &l->readerSignalled);
      pthread_mutex_unlock(&l->cs);
      return THR_OK;
    }
    if (step == Step::kRegistered) registered = true;
    if (!registered) {  // a time-out of 0: no wait at all
      pthread_mutex_unlock(&l->cs);
      return THR_TIMEOUT;
    }
    const int status = thrWaitFlag(&l->readerCond, &l->cs, &l->readerSignalled, timeoutMs);
    if (status != THR_OK) {
      l->word.fetch_sub(kWaitingReaderOne, std::memory_order_acq_rel);
      pthread_mutex_unlock(&l->cs);
      return status;
    }
    woken = true;
  }
}

int exclusiveSlow(ThrRwLock* l, int32_t timeoutMs) {
  if (pthread_mutex_lock(&l->cs) != 0) return THR_OS_FAILED;
  bool registered = false;
  for (;;) {
    const Step step = writerStep(l, registered, timeoutMs != 0);
    if (step == Step::kEntered) {
      pthread_mutex_unlock(&l->cs);
      return THR_OK;
    }
    if (step == Step::kRegistered) registered = true;
    if (!registered) {
      pthread_mutex_unlock(&l->cs);
      return THR_TIMEOUT;
    }
    const int status = thrWaitFlag(&l->writerCond, &l->cs, &l->writerSignalled, timeoutMs);
    if (status != THR_OK) {
      const uint64_t after = l->word.fetch_sub(kWaitingWriterOne, std::memory_order_acq_rel) - kWaitingWriterOne;
      // Readers held back only by this writer would otherwise wait for the
      // next release.
      if (readersMayEnter(after) && waitingReaders(after) > 0) setEvent(&l->readerCond, &l->readerSignalled);
      pthread_mutex_unlock(&l->cs);
      return status;
    }
  }
}

// The word after one release of w; false when the lock is not held.
bool released(uint64_t w, uint64_t* after) {
  if ((w & kWriterBit) != 0) {
    *after = w & ~kWriterBit;
  } else if (readersInside(w) > 0) {
    *after = w - kReaderOne;
  } else {
    return false;
  }
  return true;
}

bool wakesWriter(uint64_t after) { return waitingWriters(after) > 0 && isFree(after); }
bool wakesReader(uint64_t after) { return waitingWriters(after) == 0 && waitingReaders(after) > 0; }

int releaseSlow(ThrRwLock* l) {
  if (pthread_mutex_lock(&l->cs) != 0) return THR_OS_FAILED;
  uint64_t w = l->word.load(std::memory_order_relaxed);
  uint64_t after = 0;
  for (;;) {
    if (!released(w, &after)) {
      pthread_mutex_unlock(&l->cs);
      return THR_OS_FAILED;
    }
    if (l->word.compare_exchange_weak(w, after, std::memory_order_acq_rel, std::memory_order_relaxed)) break;
  }
  if (wakesWriter(after)) {
    setEvent(&l->writerCond, &l->writerSignalled);
  } else if (wakesReader(after)) {
    setEvent(&l->readerCond, &l->readerSignalled);
  }
  pthread_mutex_unlock(&l->cs);
  return THR_OK;
}

}  // namespace

int ThrRwLockInit(ThrRwLock** out) {
  if (out == nullptr) return THR_OS_FAILED;
  *out = nullptr;
  ThrRwLock* l = new (std::nothrow) ThrRwLock();
  if (l == nullptr) return THR_OS_FAILED;
  if (pthread_mutex_init(&l->cs, nullptr) != 0) {
    delete l;
    return THR_OS_FAILED;
  }
  if (thrInitMonotonicCond(&l->readerCond) != 0) {
    pthread_mutex_destroy(&l->cs);
    delete l;
    return THR_OS_FAILED;
  }
  if (thrInitMonotonicCond(&l->writerCond) != 0) {
    pthread_cond_destroy(&l->readerCond);
    pthread_mutex_destroy(&l->cs);
    delete l;
    return THR_OS_FAILED;
  }
  *out = l;
  return THR_OK;
}

// The lock primitives themselves: the lock analysis takes their
// annotations at their word.
int ThrRwLockShared(ThrRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  if (l == nullptr) return THR_OS_FAILED;
  uint64_t w = l->word.load(std::memory_order_relaxed);
  while (readersMayEnter(w)) {
    if (l->word.compare_exchange_weak(w, w + kReaderOne, std::memory_order_acquire, std::memory_order_relaxed)) {
      return THR_OK;
    }
  }
  return sharedSlow(l, timeoutMs);
}

int ThrRwLockExclusive(ThrRwLock* l, int32_t timeoutMs) NO_THREAD_SAFETY_ANALYSIS {
  if (l == nullptr) return THR_OS_FAILED;
  uint64_t w = l->word.load(std::memory_order_relaxed);
  while (isFree(w) && waitingWriters(w) == 0) {
    if (l->word.compare_exchange_weak(w, w | kWriterBit, std::memory_order_acquire, std::memory_order_relaxed)) {
      return THR_OK;
    }
  }
  return exclusiveSlow(l, timeoutMs);
}

int ThrRwLockRelease(ThrRwLock* l) NO_THREAD_SAFETY_ANALYSIS {
  if (l == nullptr) return THR_OS_FAILED;
  uint64_t w = l->word.load(std::memory_order_relaxed);
  uint64_t after = 0;
  while (released(w, &after) && !wakesWriter(after) && !wakesReader(after)) {
    if (l->word.compare_exchange_weak(w, after, std::memory_order_release, std::memory_order_relaxed)) {
      return THR_OK;
    }
  }
  // Somebody must be woken, or the lock was not held: decided under cs.
  return releaseSlow(l);
}

int ThrRwLockDelete(ThrRwLock* l) {
  if (l == nullptr) return THR_OS_FAILED;
  pthread_cond_destroy(&l->writerCond);
  pthread_cond_destroy(&l->readerCond);
  pthread_mutex_destroy(&l->cs);
  delete l;
  return thrIsSetUp() ? THR_OK : THR_NOT_SET_UP;
}

ThrRwLockCounts thrRwLockCounts(const ThrRwLock* l) {
  const uint64_t w = l->word.load(std::memory_order_acquire);
  const int32_t state = (w & kWriterBit) != 0 ? -1 : static_cast<int32_t>(readersInside(w));
  return ThrRwLockCounts{state, static_cast<uint32_t>(waitingWriters(w)), static_cast<uint32_t>(waitingReaders(w))};
}
