// Readiness waits through poll, or select when asked, with the time that is
// left after an interruption.
#include <errno.h>
#include <poll.h>
#include <sys/select.h>

#include <atomic>
#include <chrono>

#include "si/si.h"

namespace {

std::atomic<bool> useSelect{false};

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline (never negative); -1 for no deadline.
int leftMs(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// 1 ready, 0 time-out, -1 error (errno set).
int pollOnce(int sock, SiReady what, int ms) {
  pollfd p{sock, static_cast<short>(what == SiReady::readable ? POLLIN : POLLOUT), 0};
  return poll(&p, 1, ms);
}

int selectOnce(int sock, SiReady what, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(sock, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return select(sock + 1, what == SiReady::readable ? &set : nullptr, what == SiReady::writable ? &set : nullptr,
                nullptr, ms < 0 ? nullptr : &tv);
}

}  // namespace

void SiUseSelect(bool select) { useSelect.store(select, std::memory_order_relaxed); }
bool SiUsesSelect() { return useSelect.load(std::memory_order_relaxed); }

int SiWait(int sock, SiReady what, int32_t timeoutMs, int* sysErr) {
  if (sysErr) *sysErr = 0;
  const bool limited = timeoutMs >= 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
  // FD_SET beyond FD_SETSIZE would write outside the set.
  const bool viaSelect = SiUsesSelect() && sock < FD_SETSIZE;
  for (;;) {
    const int ms = leftMs(limited, deadline);
    const int n = viaSelect ? selectOnce(sock, what, ms) : pollOnce(sock, what, ms);
    if (n > 0) return SI_OK;
    if (n == 0) return SI_ETIMEOUT;
    const int err = errno;
    if (err == EINTR) continue;
    if (sysErr) *sysErr = err;
    return SI_EINTERN;
  }
}
