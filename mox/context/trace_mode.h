// Whether a unit of work is traced: its calls build the call tree, count as
// traced calls, and its end writes a transaction trace.
#pragma once

#include <cstdint>

enum class TraceMode : uint16_t { Off = 0, On = 1 };

inline TraceMode traceModeOf(bool on) { return on ? TraceMode::On : TraceMode::Off; }
