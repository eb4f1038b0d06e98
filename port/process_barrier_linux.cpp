// The process-wide barrier on Linux: membarrier, expedited where the kernel
// offers it, else the global (slower) form.
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "port/process_barrier.h"

namespace {

enum class Kind : int { Unknown, Expedited, Global, None };

std::atomic<Kind> kind{Kind::Unknown};

int membarrier(int command) { return static_cast<int>(syscall(__NR_membarrier, command, 0, 0)); }

Kind probe() {
  if (membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0) return Kind::Expedited;
  const int supported = membarrier(MEMBARRIER_CMD_QUERY);
  if (supported > 0 && (supported & MEMBARRIER_CMD_GLOBAL) != 0) return Kind::Global;
  return Kind::None;
}

}  // namespace

bool portPrepareProcessBarrier() {
  Kind current = kind.load(std::memory_order_acquire);
  if (current == Kind::Unknown) {
    current = probe();
    kind.store(current, std::memory_order_release);
  }
  return current != Kind::None;
}

bool portProcessBarrier() {
  switch (kind.load(std::memory_order_acquire)) {
    case Kind::Expedited: return membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0;
    case Kind::Global: return membarrier(MEMBARRIER_CMD_GLOBAL) == 0;
    default: return false;
  }
}

void portForgetProcessBarrier() { kind.store(Kind::Unknown, std::memory_order_release); }
