// How a numeric parameter's text becomes a number.
#pragma once

#include <cstdint>
#include <string_view>

// Reads text the way C's atol does with a 32-bit long: leading white space
// (space, \t, \n, \v, \f, \r), an optional sign, then decimal digits up to
// the first non-digit; no digits reads as 0. Arithmetic wraps modulo 2^32
// instead of overflowing, and a minus sign negates modulo 2^32, so "-1"
// gives 0xFFFFFFFF. Callers cut the result to their field's width.
uint32_t readNumber(std::u16string_view text);
