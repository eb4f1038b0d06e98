// Time-based UUIDs from the system (version 1: a time stamp, a clock
// sequence and a node id).
#pragma once

#include <cstdint>

// Fills uuid with a new time-based UUID in its standard byte order (the time
// fields most significant byte first); false when the system gives none.
// Not safe to call from two threads at once: the caller serialises.
bool portTimeBasedUuid(uint8_t uuid[16]);
