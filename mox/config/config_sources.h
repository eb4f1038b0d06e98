// The configuration sources of the three initialisation calls. Each adds its
// profiles to cfg (the built-in defaults first), then merges them
// (loadProfiles) and derives the typed fields (applyValues).
#pragma once

#include <cstdint>
#include <string>

class CConfiguration;

// Largest number of pairs the parameter initialisation accepts; with more
// nothing at all is configured (initial values stay).
constexpr uint32_t kMaxParameterPairs = 23;

// MOX_ProcInit: mox.conf in $MOX_CONFIG (unless unset or empty, then
// "/usr/vel/mox/config"), else in the current directory.
// instrument_level_threshold is changeable at run time.
void configureFromDefaultLocation(CConfiguration& cfg);

// MOX_ProcInitWithProfilePath: mox.conf in dir (as given; an empty dir, which
// a null directory argument gives, is the current directory), else in the
// current directory. instrument_level_threshold is changeable at run time.
void configureFromProfileDir(CConfiguration& cfg, const std::u16string& dir);

// MOX_ProcInitWithParam: pairs holds count (key, value) pointer pairs, i.e.
// 2*count NUL-terminated strings; a null pairs means none. Pairs with a null
// or empty key or value are skipped, a repeated key keeps its first value.
// count > kMaxParameterPairs: nothing is added, merged or derived.
// instrument_level_threshold is not changeable at run time.
void configureFromPairs(CConfiguration& cfg, uint32_t count, const char16_t* const* pairs);
