#include "mox/metrics/perf_stripes.h"

#include <atomic>
#include <cstdint>

#include "port/thread_local.h"

namespace {

std::atomic<uint32_t> nextStripe{0};
// 0: none taken yet, else the stripe's index + 1 (constant-initialised, so
// reading it costs no set-up check).
PORT_THREAD_LOCAL uint32_t threadStripe = 0;

uint32_t drawStripe() { return nextStripe.fetch_add(1, std::memory_order_relaxed) % PerfStripes::kCount + 1; }

}  // namespace

PerfStripe& PerfStripes::mine() {
  if (threadStripe == 0) threadStripe = drawStripe();
  return stripes[threadStripe - 1];
}

PerfStripe& PerfStripes::hold() NO_THREAD_SAFETY_ANALYSIS {
  PerfStripe& first = mine();
  if (first.lock.try_lock()) return first;
  uint32_t next = drawStripe();
  if (next == threadStripe) next = next % kCount + 1;
  threadStripe = next;
  PerfStripe& other = stripes[next - 1];
  other.lock.lock();
  return other;
}
