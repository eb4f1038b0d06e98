// Decimal numbers appended to UTF-16 text, without printf.
#pragma once

#include <cstdint>
#include <string>

void appendDecimal(std::u16string& out, int64_t value);   // "%d" / "%I64d"
void appendDecimal(std::u16string& out, uint64_t value);  // "%u" / "%lu"
inline void appendDecimal(std::u16string& out, int32_t value) { appendDecimal(out, static_cast<int64_t>(value)); }
inline void appendDecimal(std::u16string& out, uint32_t value) { appendDecimal(out, static_cast<uint64_t>(value)); }
std::u16string decimalText(int64_t value);
// value right-aligned in width characters, padded with pad ("%4d", "%02d").
void appendPaddedDecimal(std::u16string& out, int64_t value, int width, char16_t pad);
