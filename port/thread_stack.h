// The stack a new thread gets.
#pragma once

#include <cstddef>

// The stack size to ask the thread library for, for a thread that wants
// requested bytes: at least the system's minimum, in whole pages.
size_t portThreadStackSize(size_t requested);
