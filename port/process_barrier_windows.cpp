// The process-wide barrier on Windows: FlushProcessWriteBuffers interrupts
// every processor that runs a thread of the process.
#include <windows.h>

#include "port/process_barrier.h"

bool portPrepareProcessBarrier() { return true; }

bool portProcessBarrier() {
  FlushProcessWriteBuffers();
  return true;
}

void portForgetProcessBarrier() {}
