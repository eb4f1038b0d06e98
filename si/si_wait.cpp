// Readiness waits through poll, or select when asked, with the time that is
// left after an interruption.
#include <errno.h>

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

}  // namespace

void SiUseSelect(bool select) { useSelect.store(select, std::memory_order_relaxed); }
bool SiUsesSelect() { return useSelect.load(std::memory_order_relaxed); }

int SiWait(int sock, SiReady what, int32_t timeoutMs, int* sysErr) {
  if (sysErr) *sysErr = 0;
  const bool limited = timeoutMs >= 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
  const bool viaSelect = SiUsesSelect() && portSocketSelectable(sock);
  const bool readable = what == SiReady::readable;
  for (;;) {
    const int ms = leftMs(limited, deadline);
    const int n = viaSelect ? portSocketSelect(sock, readable, ms) : portSocketPoll(sock, readable, ms);
    if (n > 0) return SI_OK;
    if (n == 0) return SI_ETIMEOUT;
    const int err = errno;
    if (err == EINTR) continue;
    if (sysErr) *sysErr = err;
    return SI_EINTERN;
  }
}
