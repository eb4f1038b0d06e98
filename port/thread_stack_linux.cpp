#include <limits.h>
#include <unistd.h>

#include "port/thread_stack.h"

size_t portThreadStackSize(size_t requested) {
  const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  size_t size = requested < minimum ? minimum : requested;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) {
    const size_t p = static_cast<size_t>(page);
    size = (size + p - 1) / p * p;
  }
  return size;
}
