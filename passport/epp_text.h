// Strings between the passport's UTF-16 fields and the network's UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Writes text as UTF-8 into a field of width bytes: as many whole characters
// as fit, then blanks (an unpaired surrogate becomes "#").
void eppPutField(uint8_t* at, size_t width, std::u16string_view text);
// Reads a field of at most width bytes: up to its first zero byte, strictly
// as UTF-8 (trailing blanks stay). false when the bytes are not UTF-8.
bool eppGetField(const uint8_t* at, size_t width, std::u16string& out);
