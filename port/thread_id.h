// The operating system's id of the calling thread (the number the system's
// own tools show for the thread). Costs a system call: cache it per thread.
#pragma once

#include <cstdint>

uint32_t portCurrentThreadId();
