// Pieces every trace line is made of, and the way they reach the stream.
// All functions expect the caller to hold the trace lock.
#pragma once

#include <string>
#include <string_view>

#include "dptrc/trc_sink.h"
#include "dptrc/trc_state.h"

struct TrcTarget {
  TrcOutput* out;
  const TrcComp* comp;
  bool threadRecord;  // false: the process-wide time-stamp second is used
};

// The empty handle, a handle outside the table and any handle while no file
// is open all write to standard error.
TrcTarget trcResolve(TrcHandle handle) REQUIRES(trcLock);

// Letter, two spaces and 2 * depth spaces (at most 31).
void trcAppendPrefix(std::u16string& line, const TrcComp& comp) REQUIRES(trcLock);
// "[Thr %02s] " with the calling thread's id, "???" when it is not valid.
void trcAppendThreadTag(std::u16string& line) REQUIRES(trcLock);

// Writes the time-stamp line when the second changed since this thread's
// last one, or when the file was started again after a rotation.
void trcWriteTimeStampIfDue(const TrcTarget& target) REQUIRES(trcLock);

// Renames the open trace file to "<path>.old" and starts it again when it
// has reached its size limit, or when it is full for the size limit of the
// process. Called before a line, so a line and its time stamp stay in one
// file. A FIFO or device is never rotated.
void trcRotateIfFull(TrcOutput& out) REQUIRES(trcLock);

// Forgets the calling thread's time-stamp second.
void trcFreeThreadRecord() REQUIRES(trcLock);
