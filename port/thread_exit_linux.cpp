// C++ thread-local destructors: the runtime keeps the library loaded until
// they have run, and native thread-locals outlive them.
#include <atomic>

#include "port/thread_exit.h"

namespace {

std::atomic<void (*)(void*)> handlers[kThreadExitHandlers];

// The handler's place in handlers, taken on its first use; -1 when full.
int handlerIndex(void (*handler)(void*)) {
  for (int i = 0; i < kThreadExitHandlers; ++i) {
    void (*expected)(void*) = nullptr;
    if (handlers[i].compare_exchange_strong(expected, handler, std::memory_order_acq_rel) || expected == handler) {
      return i;
    }
  }
  return -1;
}

struct ExitWork {
  void* values[kThreadExitHandlers] = {};
  bool armed[kThreadExitHandlers] = {};
  ~ExitWork() {
    for (int i = 0; i < kThreadExitHandlers; ++i) {
      if (armed[i]) handlers[i].load(std::memory_order_acquire)(values[i]);
    }
  }
};
thread_local ExitWork exitWork;

}  // namespace

bool portAtThreadExit(void (*handler)(void*), void* value) {
  const int index = handlerIndex(handler);
  if (index < 0) return false;
  exitWork.values[index] = value;
  exitWork.armed[index] = true;
  return true;
}
