// PORT_THREAD_LOCAL declares a thread-local variable that is constant-
// initialised and trivially destructible, for the hot paths: unlike
// thread_local, reading it needs no per-access check whether it was set up,
// also from another file than the one that defines it.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define PORT_THREAD_LOCAL __thread
#else
#error "no thread-local port for this compiler"
#endif
