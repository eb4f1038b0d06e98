// Forking: a child of fork() runs on a copy of the forking thread only, so
// every layer that keeps locks or per-thread state registers a handler that
// renews them in the child. A system without fork has nothing to renew.
#pragma once

// Registers handler to run in the child after a fork (handlers run in the
// order they were registered). True when registered, or when the system has
// no fork (the handler then never runs).
bool portOnForkChild(void (*handler)());
