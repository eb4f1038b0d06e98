// The thread layer in a forked child: only the forking thread lives on, so
// every lock another thread might have held is made anew and every record of
// the other threads is forgotten.
#include "thr/thr_entry_gate.h"
#include "thr/thr_internal.h"

namespace {

void forgetInChild() {
  thrForgetThreadsInChild();
  thrRenewKeyListLock();
  ThrGateForgetOtherThreads();
}

}  // namespace

void thrRegisterForkHandler() {
  static const bool registered = pthread_atfork(nullptr, nullptr, forgetInChild) == 0;
  (void)registered;
}
