// Work at the end of a thread, while the thread's own variables are still
// usable. The library stays loaded until the work has run.
#pragma once

// Arms the calling thread: when it ends, handler(value) runs on it, once. A
// further call with the same handler on the same thread replaces value. At
// most kThreadExitHandlers different handlers per process, each armed on its
// own; handlers armed on one thread run in no given order. False when the
// system refused or the handlers are used up.
constexpr int kThreadExitHandlers = 4;
bool portAtThreadExit(void (*handler)(void*), void* value);
