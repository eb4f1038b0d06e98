#include "port/local_time.h"

bool portLocalTime(time_t seconds, tm* local) { return localtime_r(&seconds, local) != nullptr; }
