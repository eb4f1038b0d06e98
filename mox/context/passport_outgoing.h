// The end-to-end passport a component hands on to the next one, in its
// hexadecimal string form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mox/context/owned_passport.h"

// The trace flag of a passport this component starts itself (level 1 in the
// version 3 table).
constexpr uint16_t kNewPassportTraceFlag = 15;

// Builds on passport, creating it (version 3, flag 15) when it is null; the
// passport keeps the changes. A version 2 passport becomes version 3 with
// the flag of level (traceFlagForLevel); versions 1 and 3 keep version and
// flag. Then connectionId (hexadecimal digits: as many bytes as it has digit
// pairs, at most 16, the rest of the 16-byte id zero), counter and the
// previous component name (at most 32 characters) are set; a version 1
// passport refuses the first two, which is ignored. The result is the
// hexadecimal form, or empty when the passport cannot be created or written.
std::u16string BuildOutgoingPassport(OwnedPassport& passport, std::u16string_view connectionId, uint32_t counter,
                                     int16_t level, std::u16string_view previousComponentName);

// systemName "-" processName "-" hostName, cut to its first 32 characters.
std::u16string previousComponentName(std::u16string_view systemName, std::u16string_view processName,
                                     std::u16string_view hostName);

// The operating system's host name; "unknown" when it cannot be read.
std::u16string localHostName();
