#include "mox/metrics/perf_stripes.h"

#include <atomic>
#include <cstdint>

#include "port/thread_local.h"

namespace {

std::atomic<uint32_t> nextStripe{0};
// 0: none taken yet, else the stripe's index + 1 (constant-initialised, so
// reading it costs no set-up check).
PORT_THREAD_LOCAL uint32_t threadStripe = 0;

}  // namespace

PerfStripe& PerfStripes::mine() {
  if (threadStripe == 0) threadStripe = nextStripe.fetch_add(1, std::memory_order_relaxed) % kCount + 1;
  return stripes[threadStripe - 1];
}
