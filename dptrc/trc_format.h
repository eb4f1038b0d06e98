// Formatting of trace messages into the line buffer. The caller holds the
// trace lock (the narrow buffer is shared).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "dptrc/trc_state.h"

struct TrcFormatResult {
  bool failed = false;     // the formatter failed; nothing was appended
  bool truncated = false;  // the message was cut to fit
  int error = 0;           // errno of the failure
  int sourceLine = 0;      // where the failure was detected
};

// Appends the formatted message ("%s" arguments UTF-8) to line, keeping
// line at most limit characters.
TrcFormatResult trcAppendFormatted(std::u16string& line, size_t limit, const char* fmt, va_list args) REQUIRES(trcLock);
// Appends text to line, keeping line at most limit characters.
TrcFormatResult trcAppendText(std::u16string& line, size_t limit, std::u16string_view text);
// The line written instead of a message that could not be formatted.
void trcWriteFormatFailure(TrcOutput& out, const TrcFormatResult& result) REQUIRES(trcLock);

// Copies fmt into out, cut to kTrcFormatMax characters; a conversion that the
// cut leaves incomplete is dropped too. True when the format was cut.
bool trcCopyFormat(const char* fmt, std::string& out);
