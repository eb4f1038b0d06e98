// The hexadecimal string form of an end-to-end passport: two upper-case
// hexadecimal digits per byte of the network form, high nibble first. The
// network form begins and ends with "*TH*", so the text begins and ends with
// "2A54482A".
//
// Every function here reads only inside the text and the given byte counts,
// whatever the text holds (odd length, lower case, other characters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mox/context/owned_passport.h"

// Fills buffer[0, count) from the digit pairs of text: a byte for each pair
// of digits 0-9 or A-F (upper case only), stopping at the first pair that is
// not two such digits or at the end of the text; the bytes not reached are 0.
void HexToBytes(std::u16string_view text, uint8_t* buffer, size_t count);

// "%2.2X" for each byte.
std::u16string BytesToHex(const uint8_t* bytes, size_t count);

// The passport written in text, or null. Null without a message when text
// does not begin with "2A54482A" or its last "2A54482A" does not end it;
// null with the error line "Bad VEL passport format, deserialization
// failed!\n" when the bytes (text length / 2 of them, an odd last character
// ignored) are not a passport.
OwnedPassport ParseE2EPassport(std::u16string_view text);
