#include <windows.h>

#include "port/thread_id.h"

uint32_t portCurrentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }
