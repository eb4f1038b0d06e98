// The local start time of a unit of work as trace text. The time is taken
// when the first call starts (cheap) and formatted only when a trace needs it.
#pragma once

#include <cstdint>
#include <string>

// "YYYY-MM-DD hh:mm:ss", with ".mmm" when withMs; "ERROR_DATE" for a time
// that cannot be converted (including -1).
std::u16string formatLocalTime(int64_t wallMs, bool withMs);
