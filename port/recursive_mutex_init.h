// Constant initialisers of pthread mutexes (PORT_MUTEX_INITIALIZER and
// PORT_RECURSIVE_MUTEX_INITIALIZER), in braces, so that a mutex member with
// static storage works before any code of the process has run, and can be
// made anew by assignment (a forked child).
#pragma once

#include <pthread.h>

#if defined(__linux__)
#define PORT_MUTEX_INITIALIZER PTHREAD_MUTEX_INITIALIZER
#define PORT_RECURSIVE_MUTEX_INITIALIZER PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP
#elif defined(_WIN32)
// winpthread's mutex is a scalar that its first use turns into a lock.
#define PORT_MUTEX_INITIALIZER \
  { PTHREAD_MUTEX_INITIALIZER }
#define PORT_RECURSIVE_MUTEX_INITIALIZER \
  { PTHREAD_RECURSIVE_MUTEX_INITIALIZER }
#else
#error "no static mutex port for this platform"
#endif
