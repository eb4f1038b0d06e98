// Work at the end of a thread. The library stays loaded until the work has
// run. A handler gets what it works on through its value: on Windows the
// thread's emulated thread-locals (mingw) may be gone by then (a thread made
// by this module's threads library frees them first), so a handler may only
// clear them, never read them.
#pragma once

// Arms the calling thread: when it ends, handler(value) runs on it, once. A
// further call with the same handler on the same thread replaces value. At
// most kThreadExitHandlers different handlers per process, each armed on its
// own; handlers armed on one thread run in no given order. False when the
// system refused or the handlers are used up.
constexpr int kThreadExitHandlers = 8;
bool portAtThreadExit(void (*handler)(void*), void* value);
