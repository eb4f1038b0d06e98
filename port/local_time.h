// The local time of day, thread-safe.
#pragma once

#include <time.h>

// Breaks seconds (since 1970) down into local time; false when it cannot.
bool portLocalTime(time_t seconds, tm* local);
