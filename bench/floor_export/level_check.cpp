// The floor's level check, in a shared library of its own: the benchmark
// calls it through the dynamic linker's indirection, as a host calls every
// export of libmox.so, so that the untimed row compares like with like.
#include <atomic>
#include <cstdint>

namespace {
std::atomic<uint16_t> levelThreshold{10};
}  // namespace

extern "C" __attribute__((visibility("default"))) bool moxBenchFloorLevelIsTimed(uint16_t level) {
  return level < levelThreshold.load(std::memory_order_relaxed);
}
