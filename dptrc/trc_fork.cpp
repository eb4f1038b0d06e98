// The trace facility in a forked child. The child must neither wait for a
// trace lock that another thread of the parent held at the fork, nor write
// into the parent's trace file: the lock is made anew, the inherited
// descriptor is closed (every line was written whole before the fork, so
// nothing of the parent's is pending), and tracing is off until the child
// opens a trace file of its own.
#include "dptrc/trc_state.h"
#include "port/file.h"
#include "port/fork.h"

namespace {

// Only the forking thread runs in the child, and the trace lock is being made
// anew: the state is reset without it.
void forgetInChild() NO_THREAD_SAFETY_ANALYSIS {
  trcRenewLock();
  TrcState& state = trcState();
  if (state.file.fd >= 0) portClose(state.file.fd);
  state.file = TrcOutput{};
  state.pending.clear();
  state.nextComp = 1;
  moxTrc.store(nullptr, std::memory_order_relaxed);
  TrcLevel.store(0, std::memory_order_relaxed);
}

}  // namespace

void trcRegisterForkHandler() {
  static const bool registered = portOnForkChild(forgetInChild);
  (void)registered;
}
