// Writer entry points shared inside the trace facility (the calling idiom
// builds on them). Each takes the trace lock itself.
#pragma once

#include <cstdarg>
#include <string_view>

#include "dptrc/dptrc.h"

// A finished text as a plain line; its '%' characters are not interpreted.
void trcWritePlainText(TrcHandle handle, std::u16string_view text);
// TrcError with its arguments as a va_list.
void trcWriteErrorV(TrcHandle handle, const char* fmt, va_list args);
