// PORT_RECURSIVE_MUTEX_INITIALIZER: a constant initialiser of a recursive
// pthread mutex, so that a mutex with static storage works before any code of
// the process has run, and can be made anew by assignment (a forked child).
#pragma once

#include <pthread.h>

#if defined(__linux__)
#define PORT_RECURSIVE_MUTEX_INITIALIZER PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP
#else
#error "no static recursive mutex port for this platform"
#endif
