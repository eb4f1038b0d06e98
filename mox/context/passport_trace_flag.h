// Trace flags and trace levels of passports.
//
// The trace flag of an end-to-end passport is its two trace-flag bytes read
// as one 16-bit number, the first byte (offset 7 of the network form) being
// the low-order one. The trace flag of an application passport ("GUID*flag")
// is the decimal number after its first "*". The trace level (0 to 3) is
// derived from the flag by tables that differ between version 3 passports
// and the others.
#pragma once

#include <cstdint>
#include <string_view>

#include "passport/epp.h"

// Version of the table for application passports.
constexpr uint8_t kApplicationPassportVersion = 0;

// Level 0 to 3 of flag. Version 3: 0 / 1-2696 / 2697-3486 / 3487 and above;
// any other version (1, 2, application passports): 0-8 / 9-924 / 925-1534 /
// 1535 and above.
uint16_t TraceLevelFromFlag(uint16_t flag, uint8_t version);

// The flag of an end-to-end passport; 0 with an error line when it cannot be
// read.
uint16_t e2eTraceFlag(EppHandle passport);

// The flag of an application passport: the text after the first "*" read as
// a signed decimal number (leading blanks, an optional sign, then digits up
// to the first other character; no digits give 0; beyond the 32-bit range it
// stops at the nearest limit), kept to its low 16 bits. Without a "*": 0 with
// an error line.
uint16_t applicationTraceFlag(std::u16string_view passport);

// The flag a passport handed on as version 3 carries for level: 1 gives 0,
// 2 gives 2697, 3 gives 3487, anything else 0.
uint16_t traceFlagForLevel(int32_t level);

// flag as the two bytes of the passport, low-order byte first.
void traceFlagBytes(uint16_t flag, uint8_t bytes[2]);
