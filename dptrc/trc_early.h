// Error lines noted before the trace file is open (trcEarlyErrorLine).
#pragma once

#include "dptrc/dptrc.h"

// Writes the noted lines through handle as error lines with their own
// locations (when TrcLevel is 1 or more) and forgets them. The caller holds
// the trace lock.
void trcWriteEarlyLines(TrcHandle handle) REQUIRES(trcLock);
