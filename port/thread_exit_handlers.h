// The handlers of thread-exit work, for the platforms' implementations of
// port/thread_exit.h: each handler takes a place on its first use.
#pragma once

#include <atomic>

#include "port/thread_exit.h"

namespace threadexit {

inline std::atomic<void (*)(void*)> handlers[kThreadExitHandlers];

// The handler's place in handlers, taken on its first use; -1 when full.
inline int handlerIndex(void (*handler)(void*)) {
  for (int i = 0; i < kThreadExitHandlers; ++i) {
    void (*expected)(void*) = nullptr;
    if (handlers[i].compare_exchange_strong(expected, handler, std::memory_order_acq_rel) || expected == handler) {
      return i;
    }
  }
  return -1;
}

}  // namespace threadexit
