// C++ thread-local destructors: the runtime keeps the library loaded until
// they have run, and native thread-locals outlive them.
#include <atomic>

#include "port/thread_exit.h"
#include "port/thread_exit_handlers.h"

namespace {

using threadexit::handlerIndex;
using threadexit::handlers;

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
