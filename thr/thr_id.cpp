// Thread ids: the kernel's thread id, looked up once per thread.
#include "port/fork.h"
#include "port/thread_id.h"
#include "thr/thr_internal.h"

namespace {

thread_local ThrId t_cachedId = THR_INVALID_ID;

// A forked child runs on a copy of the forking thread, cache included, but
// has a new kernel id.
void forgetIdInChild() { t_cachedId = THR_INVALID_ID; }

void registerForkHandler() {
  static const bool registered = portOnForkChild(forgetIdInChild);
  (void)registered;
}

}  // namespace

ThrId ThrGetCurrentId() {
  ThrId id = t_cachedId;
  if (id == THR_INVALID_ID) {
    registerForkHandler();
    id = portCurrentThreadId();
    t_cachedId = id;
  }
  return id;
}

bool ThrIdEqual(ThrId a, ThrId b) { return a == b; }

int ThrIdToString(char16_t* buf, size_t bufChars, ThrId id) {
  char16_t digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + id % 10);
    id /= 10;
  } while (id != 0);
  if (buf == nullptr || bufChars == 0) return 0;
  if (static_cast<size_t>(n) + 1 > bufChars) {
    buf[0] = 0;  // too small: an empty text rather than a cut number
    return 0;
  }
  for (int i = 0; i < n; ++i) buf[i] = digits[n - 1 - i];
  buf[n] = 0;
  return n;
}
