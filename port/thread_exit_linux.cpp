// A C++ thread-local destructor: the runtime keeps the library loaded until
// it has run.
#include <atomic>

#include "port/thread_exit.h"

namespace {

struct ExitWork {
  void (*handler)(void*) = nullptr;
  void* value = nullptr;
  ~ExitWork() {
    if (handler != nullptr) handler(value);
  }
};
thread_local ExitWork exitWork;

}  // namespace

bool portAtThreadExit(void (*handler)(void*), void* value) {
  exitWork.handler = handler;
  exitWork.value = value;
  return true;
}
