// A fiber-local slot with a callback per handler: the system runs it when
// the thread ends. The thread-local destructors of the C++ runtime are no
// choice here: with emulated thread-locals they may run after the storage of
// the thread's variables was freed. The DLL is pinned, so that a host that
// unloads it cannot leave the system a callback into unmapped code.
#include <windows.h>

#include <atomic>
#include <utility>

#include "port/thread_exit.h"
#include "port/thread_exit_handlers.h"

namespace {

using threadexit::handlerIndex;
using threadexit::handlers;

// The system's callback gets the value only: one per handler index.
template <int Index>
void WINAPI runHandler(void* value) {
  void (*handler)(void*) = handlers[Index].load(std::memory_order_acquire);
  if (handler != nullptr && value != nullptr) handler(value);
}

template <int... Index>
constexpr PFLS_CALLBACK_FUNCTION callbackOf(int index, std::integer_sequence<int, Index...>) {
  constexpr PFLS_CALLBACK_FUNCTION callbacks[] = {&runHandler<Index>...};
  return callbacks[index];
}

void pinLibrary() {
  static const bool pinned = [] {
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&runHandler<0>), &self) != 0;
  }();
  static_cast<void>(pinned);
}

// The slot of handler index, allocated once (FLS_OUT_OF_INDEXES: refused).
DWORD exitSlot(int index) {
  static std::atomic<DWORD> slots[kThreadExitHandlers] = {};  // 0: not yet; slot + 1 otherwise
  DWORD known = slots[index].load(std::memory_order_acquire);
  if (known != 0) return known - 1;
  pinLibrary();
  const DWORD made = FlsAlloc(callbackOf(index, std::make_integer_sequence<int, kThreadExitHandlers>{}));
  DWORD expected = 0;
  if (slots[index].compare_exchange_strong(expected, made + 1, std::memory_order_acq_rel)) return made;
  if (made != FLS_OUT_OF_INDEXES) FlsFree(made);  // another thread allocated it first
  return expected - 1;
}

}  // namespace

bool portAtThreadExit(void (*handler)(void*), void* value) {
  const int index = handlerIndex(handler);
  if (index < 0) return false;
  const DWORD slot = exitSlot(index);
  return slot != FLS_OUT_OF_INDEXES && FlsSetValue(slot, value);
}
