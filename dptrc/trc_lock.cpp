#include <atomic>
#include <cstdio>

#include "dptrc/trc_state.h"

namespace {

// Never deleted: traces may still be written while static objects of the
// process are being destroyed.
struct TraceMutex {
  ThrRecMtx mtx;
  TraceMutex() { ThrRecMtxInit(&mtx, u"dptrace"); }
};

ThrRecMtx& traceMutex() {
  static TraceMutex* const mutex = new TraceMutex;
  return mutex->mtx;
}

const char* baseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

}  // namespace

TrcLockName trcLock;

// The trace lock's own calls: they take traceMutex(), which the analysis
// knows as trcLock.
void TrcLock() NO_THREAD_SAFETY_ANALYSIS { ThrRecMtxLock(&traceMutex()); }

void TrcUnlock() NO_THREAD_SAFETY_ANALYSIS { ThrRecMtxUnlock(&traceMutex()); }

void trcRenewLock() { ThrRecMtxInit(&traceMutex(), u"dptrace"); }

void TrcSetLocation(const char* file, int line) {
  TrcLockGuard lock;
  TrcState& state = trcState();
  snprintf(state.location, sizeof state.location, "%-12.12s%d", baseName(file != nullptr ? file : ""), line);
}
