#include <errno.h>
#include <windows.h>

#include "port/condition_clock.h"
#include "port/thread_join.h"

namespace {

bool passed(const timespec& deadline) {
  timespec now{};
  portReadConditionClock(&now);
  return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

// winpthread's try-join, polled: the deadline is on the condition clock.
int portJoinThreadBefore(pthread_t thread, const timespec& deadline) {
  for (;;) {
    const int rc = _pthread_tryjoin(thread, nullptr);
    if (rc != EBUSY) return rc;
    if (passed(deadline)) return ETIMEDOUT;
    Sleep(1);
  }
}
