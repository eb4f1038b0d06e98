#include <unistd.h>

#include "port/process_id.h"

int64_t portProcessId() { return static_cast<int64_t>(getpid()); }
