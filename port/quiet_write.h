// Writing from inside a host process without raising a signal in it.
//
// A write to a pipe, FIFO or socket whose reader has gone raises SIGPIPE, and
// a write past the file size limit (RLIMIT_FSIZE) raises SIGXFSZ; by default
// either ends the process. A library must not end its host for a diagnostic
// line, nor change the host's signal dispositions to prevent it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

// One write(2) of up to size bytes to fd that raises neither SIGPIPE nor
// SIGXFSZ in the process, whatever its dispositions: both are blocked in the
// calling thread's mask for the write, and one that the write raised (and
// that was not pending before) is consumed before the mask is restored. The
// dispositions are not touched. Returns what write returns, with its errno
// (EPIPE: no reader; EFBIG: the size limit; EAGAIN: a non-blocking
// descriptor that cannot take the bytes now). Thread-safe.
ssize_t portWriteQuietly(int fd, const void* data, size_t size);

// The same, but without waiting even when fd is blocking, and without
// changing fd's flags (they belong to an open file description that the
// host shares): a pipe or FIFO that cannot take the bytes now fails with
// EAGAIN. Fails with EOPNOTSUPP (ENOSYS, EINVAL on old kernels) where the
// system cannot write fd so (older kernels, terminals, many files).
ssize_t portWriteQuietlyNoWait(int fd, const void* data, size_t size);

// The same for a stdio stream: writes size bytes to out and flushes it,
// behind whatever the host has buffered there, raising neither signal. True
// when every byte was written and flushed. Waits as the stream would.
bool portWriteStreamQuietly(std::FILE* out, const void* data, size_t size);
