// The name of this host as the system knows it (its network name).
#pragma once

#include <cstddef>

// Writes the host name, NUL-terminated and cut to fit, into name (size bytes,
// at least 1); false when the system gives none.
bool portHostName(char* name, size_t size);
