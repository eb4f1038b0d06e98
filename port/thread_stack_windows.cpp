// Windows reserves a stack in units of the allocation granularity (64 KiB).
#include <windows.h>

#include "port/thread_stack.h"

size_t portThreadStackSize(size_t requested) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t unit = info.dwAllocationGranularity > 0 ? info.dwAllocationGranularity : 65536;
  const size_t size = requested < unit ? unit : requested;
  return (size + unit - 1) / unit * unit;
}
