#include "port/monotonic_wait.h"

int portJoinThreadBefore(pthread_t thread, const timespec& deadline) {
  return pthread_clockjoin_np(thread, nullptr, CLOCK_MONOTONIC, &deadline);
}

int portLockMutexBefore(pthread_mutex_t* m, const timespec& deadline) {
  return pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
}
