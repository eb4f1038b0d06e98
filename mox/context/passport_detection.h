// Reading the passport a host opens a unit of work with: what the context
// takes from it (trace flag and level, whether it is traced, the threshold
// its timings use, its trace GUID, the end-to-end passport's ids and the
// parsed passport itself).
//
// The passport is either an end-to-end passport in its hexadecimal string
// form, or else an application passport, "GUID*flag". Unreadable values
// fall back to flag 0 and a generated GUID, each with an error line; nothing
// here fails. Lines at level 2 tell what was detected, only at the creation
// of a context.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mox/context/owned_passport.h"
#include "mox/context/passport_elements.h"
#include "mox/context/trace_mode.h"

// The configuration values detection depends on.
struct PassportSettings {
  uint16_t traceEnabledViaEm = 0;    // 1: every unit of work is traced, passports are not read
  uint16_t traceEnabledViaE2e = 1;   // 1: an end-to-end passport may switch tracing on
  uint16_t levelThreshold = 0;       // instrument_level_threshold
  uint16_t traceLevelThreshold = 0;  // instrument_level_threshold_trace
};

// The threshold of a context whose passport has trace level 3: no timing is
// filtered.
constexpr uint16_t kUnfilteredThreshold = 65535;

struct PassportReading {
  uint16_t traceFlag = 0;
  uint16_t traceLevel = 0;  // 0 to 3
  TraceMode traceOn = TraceMode::Off;
  uint16_t traceLevelThreshold = 0;
  // Empty: a new GUID is wanted, and made when it is first read (GUIDs are
  // not free, and most are never read).
  std::u16string traceGuid;
  std::u16string transactionId;  // 32 characters, or empty
  ConnectionIds ids;             // version 3 passports
  OwnedPassport passport;        // the end-to-end passport, when it is one
};

PassportReading detectPassport(std::u16string_view passport, const PassportSettings& settings, bool atCreation);
