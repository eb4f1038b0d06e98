// Writing to the process's standard error from inside a host process, where
// nobody may be reading it: a service's standard error is often a pipe that
// its supervisor stopped draining, or whose reader has gone.
#pragma once

#include <sys/types.h>

#include <cstddef>

// One write of up to size bytes to descriptor 2 that never waits and raises
// no signal (see port/quiet_write.h), without changing descriptor 2 itself:
// its flags belong to an open file description shared with the host, and
// maybe with other processes. A pipe or FIFO is written with a write that
// does not wait (where the kernel offers one); a terminal, or a pipe on an
// older kernel, through a non-blocking descriptor opened for this one write
// (none stays open, so a host that closes or replaces its standard error is
// not kept connected to the old one); a socket with a non-blocking send; a
// regular file directly.
// Returns the bytes written, or -1 with errno: EAGAIN when the stream cannot
// take the bytes now, or when no non-blocking way to it exists (it is then
// not written at all rather than waited for); EPIPE when its reader has gone;
// EBADF when descriptor 2 is closed. Thread-safe.
ssize_t portWriteStandardErrorNoWait(const void* data, size_t size);
