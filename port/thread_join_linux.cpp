#include "port/thread_join.h"

int portJoinThreadBefore(pthread_t thread, const timespec& deadline) {
  return pthread_timedjoin_np(thread, nullptr, &deadline);
}
