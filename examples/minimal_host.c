/* A minimal host: one unit of work with a nested call, written as metric text
 * to ./minimal-host_mtdata.log (the trace file goes to ./minimal-host_mox.trc). */
#include <mox.h>

int main(void) {
  const mox_char* const settings[] = {u"datasending_method", u"file", u"logdir", u"."};
  MOX_ProcInitWithParam(u"minimal-host", 0, 2, settings);

  uint32_t request = MOX_startTiming(u"Shop", u"handleRequest", 1);
  uint32_t query = MOX_startTiming(u"Database", u"select", 2);
  MOX_endTiming(query);
  MOX_endTiming(request); /* the end of the first call ends the unit of work */

  MOX_ProcExit(); /* sends what was collected and ends the library */
  return 0;
}
