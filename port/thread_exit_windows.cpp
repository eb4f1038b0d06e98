// A fiber-local slot with a callback: the system runs it when the thread
// ends. The thread-local destructors of the C++ runtime are no choice here:
// with emulated thread-locals they may run after the storage of the
// thread's variables was freed. The DLL is pinned, so that a host that
// unloads it cannot leave the system a callback into unmapped code.
#include <windows.h>

#include <atomic>

#include "port/thread_exit.h"

namespace {

std::atomic<void (*)(void*)> exitHandler{nullptr};

void WINAPI runHandler(void* value) {
  void (*handler)(void*) = exitHandler.load(std::memory_order_acquire);
  if (handler != nullptr && value != nullptr) handler(value);
}

DWORD exitSlot() {
  static const DWORD slot = [] {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&runHandler), &self);
    return FlsAlloc(runHandler);
  }();
  return slot;
}

}  // namespace

bool portAtThreadExit(void (*handler)(void*), void* value) {
  exitHandler.store(handler, std::memory_order_release);
  const DWORD slot = exitSlot();
  return slot != FLS_OUT_OF_INDEXES && FlsSetValue(slot, value);
}
