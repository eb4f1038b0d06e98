// The DLL's loader entry. The library keeps no per-thread state that needs
// the loader's help (thread-local slots are found on use), so the thread
// attach and detach notifications are switched off: every thread start and
// end in the host would otherwise call in here under the loader lock.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}
