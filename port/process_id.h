// The operating system's id of this process.
#pragma once

#include <cstdint>

int64_t portProcessId();
