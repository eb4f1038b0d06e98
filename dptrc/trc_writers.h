// Writer entry points shared inside the trace facility (the calling idiom
// builds on them). Each takes the trace lock itself.
#pragma once

#include <cstdarg>
#include <string_view>

#include "dptrc/dptrc.h"

// The writers below take the line's trace point when a host call caused it
// (its repeats are bounded), else nullptr.

// DpTrc with its arguments as a va_list.
void trcWritePlainV(TrcHandle handle, TrcRepeatSite* site, const char* fmt, va_list args);
// A finished text as a plain line; its '%' characters are not interpreted.
void trcWritePlainText(TrcHandle handle, TrcRepeatSite* site, std::u16string_view text);
// TrcError with its arguments as a va_list.
void trcWriteErrorV(TrcHandle handle, TrcRepeatSite* site, const char* fmt, va_list args);
