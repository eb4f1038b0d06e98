#include "alloc_count.h"

#include <dlfcn.h>

namespace {

using StartFunction = void (*)();
using StopFunction = void (*)(uint64_t*, int64_t*);

template <typename Function>
Function hookFunction(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

bool allocationHookActive() { return hookFunction<StartFunction>("moxBenchStartCounting") != nullptr; }

void startCountingAllocations() {
  if (auto start = hookFunction<StartFunction>("moxBenchStartCounting")) start();
}

AllocationCount stopCountingAllocations() {
  AllocationCount count;
  if (auto stop = hookFunction<StopFunction>("moxBenchStopCounting")) stop(&count.allocations, &count.netBytes);
  return count;
}
