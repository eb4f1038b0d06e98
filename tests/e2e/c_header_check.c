/* The public header compiles as C11 and the library links from C. */
#include "mox.h"

static const mox_char* session(void) {
  static const mox_char id[] = {'s', '1', 0};
  return id;
}

int main(void) {
  static const mox_char name[] = {'c', 0};
  MOX_SessionIdFunc f = session;
  mox_char buffer[8];
  if (MOX_getCharSize() != 2) return 1;
  /* Not initialised: every call gives its neutral result. */
  if (MOX_startTiming(name, name, 1) != 0) return 2;
  if (MOX_startTimingEx(f, name, name, 1) != 0) return 3;
  if (MOX_getPassport(buffer, 8) != 0) return 4;
  if (MOX_ProcExitNestable() != 0) return 5;
  return 0;
}
