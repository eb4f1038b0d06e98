// Work at the end of a thread, while the thread's own variables are still
// usable. The library stays loaded until the work has run.
#pragma once

// Arms the calling thread: when it ends, handler(value) runs on it, once. A
// further call on the same thread replaces value. One handler per process:
// every call must pass the same one. False when the system refused.
bool portAtThreadExit(void (*handler)(void*), void* value);
