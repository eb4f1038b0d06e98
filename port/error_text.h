// The system's description of an errno value, for trace lines.
#pragma once

// A static text, or null for a number the system does not describe.
// Thread-safe.
const char* portErrorText(int error);
