// The thread layer in a forked child: only the forking thread lives on, so
// every lock another thread might have held is made anew and every record of
// the other threads is forgotten.
#include "port/fork.h"
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
  static const bool registered = portOnForkChild(forgetInChild);
  (void)registered;
}
