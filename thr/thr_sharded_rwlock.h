// A readers-writer lock for data that many threads read at once and that is
// written rarely (the current section of the metric store). Readers count
// themselves in one of several cache-line-sized slots, so concurrent readers
// on different cores never write the same cache line; a writer raises a flag
// that turns new readers away (writers have precedence) and waits until every
// slot is empty. Shared entry costs two atomic operations on the reader's own
// slot; exclusive entry costs a scan of the slots, so writers must be rare.
//
// Status codes and time-outs as the thread layer's readers-writer lock: the
// time-out applies to each wait; THR_OK / THR_TIMEOUT / THR_OS_FAILED.
#pragma once

#include <cstdint>

#include "thr/thr.h"
#include "thr/thr_guards.h"

struct CAPABILITY("rwlock") ThrShardedRwLock;  // opaque

int ThrShardedRwLockInit(ThrShardedRwLock** out);
int ThrShardedRwLockShared(ThrShardedRwLock* l, int32_t timeoutMs) ACQUIRE_SHARED(l);
int ThrShardedRwLockExclusive(ThrShardedRwLock* l, int32_t timeoutMs) ACQUIRE(l);
// Unlike ThrRwLockRelease, the mode is named: readers and the writer release
// different counters.
int ThrShardedRwLockReleaseShared(ThrShardedRwLock* l) RELEASE_SHARED(l);
int ThrShardedRwLockReleaseExclusive(ThrShardedRwLock* l) RELEASE(l);
int ThrShardedRwLockDelete(ThrShardedRwLock* l);

// The guards count the lock as held for their scope even when the wait
// failed (the caller goes on, as with the thread layer's guards).
using ThrShardedSharedGuard = ThrSharedHold<ThrShardedRwLock, &ThrShardedRwLockShared, &ThrShardedRwLockReleaseShared>;
using ThrShardedExclusiveGuard =
    ThrExclusiveHold<ThrShardedRwLock, &ThrShardedRwLockExclusive, &ThrShardedRwLockReleaseExclusive>;
