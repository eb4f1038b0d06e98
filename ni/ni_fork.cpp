// The network layer in a forked child: only the forking thread lives on, so
// the layer's locks, which another thread may have held, are made anew, and
// the child lets go of the sockets it inherited without touching the
// parent's connections (closing a copy leaves the parent's socket open).
#include "ni/ni_internal.h"
#include "port/fork.h"

namespace {

void forgetInChild() {
  niInitRenewLock();
  niNameBufferRenewLock();
  niHdlTableForgetInChild();
}

}  // namespace

void niRegisterForkHandler() {
  static const bool registered = portOnForkChild(forgetInChild);
  (void)registered;
}
