#include <errno.h>

#include "port/thread_join.h"

namespace {

bool passed(const timespec& deadline) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

// glibc's timed join takes a wall-clock deadline, and its clock-selecting one
// is not seen by the thread sanitizer; a polling try-join is neither.
int portJoinThreadBefore(pthread_t thread, const timespec& deadline) {
  const timespec pause{0, 1000000};
  for (;;) {
    const int rc = pthread_tryjoin_np(thread, nullptr);
    if (rc != EBUSY) return rc;
    if (passed(deadline)) return ETIMEDOUT;
    nanosleep(&pause, nullptr);
  }
}
