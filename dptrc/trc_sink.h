// How the bytes of trace lines reach an output. A host thread writes its
// trace lines itself, under the trace lock that every tracing thread needs:
// a write that waited for a reader would stop them all, and one that raised
// SIGPIPE or SIGXFSZ would end the host. So nothing here waits or raises a
// signal; a write the output does not take at once is dropped and counted,
// and the next write it takes starts with one line saying how many were.
// All functions expect the caller to hold the trace lock.
#pragma once

#include <string_view>

#include "dptrc/trc_state.h"

// Appends text to the bytes of the next write: UTF-16 as UTF-8 (an unpaired
// surrogate as "#"), or text that is already narrow.
void trcEmit(std::u16string_view text) REQUIRES(trcLock);
void trcEmitAscii(std::string_view text) REQUIRES(trcLock);
// Writes the emitted bytes to out in one write and forgets them. When out
// dropped writes before, the note "... N trace writes dropped: ..." goes
// first (on a line of its own); when the note is not taken either, this
// write is dropped as well. A regular file that refuses a write for its size
// limit (EFBIG) is marked full, so that the next line rotates it.
void trcFlush(TrcOutput& out) REQUIRES(trcLock);
// Writes the note alone when out owes one (before it is closed).
void trcFlushDropNote(TrcOutput& out) REQUIRES(trcLock);
