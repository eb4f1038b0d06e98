// The DLL's loader entry. The library keeps no per-thread state that needs
// the loader's help (thread-local slots are found on use), so the thread
// attach and detach notifications are switched off: every thread start and
// end in the host would otherwise call in here under the loader lock.
//
// moxDllEntry is the image's entry point (linked so), in front of the C
// runtime's: at the process's end (detach with a non-null reserved pointer)
// the system has already killed every other thread, and the runtime's detach
// would run the at-exit list (static destructors, the thread layer's
// shutdown) under the loader lock. Any lock a killed thread held then stays
// held, and the exit waits for it forever: a thread killed while it ran its
// thread-local destructors held winpthread's key lock, which the destructor of the C++ runtime's
// thread-exit key takes to delete it. The process's memory and handles go
// with it, so nothing is left to clean up. An unload (FreeLibrary) still runs
// the runtime's full detach.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI moxDllEntry(HANDLE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) return TRUE;
  return DllMainCRTStartup(module, reason, reserved);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}
