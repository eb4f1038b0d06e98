/* The public header compiles as C11 and the library links from C. */
#include "mox.h"

static const mox_char* session(void) {
  static const mox_char id[] = {'s', '1', 0};
  return id;
}

int main(void) {
  static const mox_char name[] = {'c', 0};
  MOX_SessionIdFunc f = session;
  /* Not initialised: the neutral result. */
  return MOX_getCharSize() == 2 && MOX_startTimingEx(f, name, name, 1) == 0 ? 0 : 1;
}
