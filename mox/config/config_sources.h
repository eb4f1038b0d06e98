// The configuration sources of the three initialisation calls. Each returns
// the parameter tables it read, in the order in which the configuration
// merges them (the built-in defaults first); the configure* helpers hand
// them to a configuration object (CConfiguration::load).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mox/config/parameter.h"

class CConfiguration;

// Largest number of pairs the parameter initialisation accepts; with more
// nothing at all is configured (initial values stay).
constexpr uint32_t kMaxParameterPairs = 23;

// The tables of one initialisation, merged in order.
using ConfigSources = std::vector<ParameterMap>;

// MOX_ProcInit: mox.conf in $MOX_CONFIG (unless unset or empty, then the
// system's directory, port/config_directory.h), else in the current directory.
// instrument_level_threshold is changeable at run time.
ConfigSources sourcesFromDefaultLocation();

// MOX_ProcInitWithProfilePath: mox.conf in dir (as given; an empty dir, which
// a null directory argument gives, is the current directory), else in the
// current directory. instrument_level_threshold is changeable at run time.
ConfigSources sourcesFromProfileDir(const std::u16string& dir);

// MOX_ProcInitWithParam: pairs holds count (key, value) pointer pairs, i.e.
// 2*count NUL-terminated strings; a null pairs means none. Pairs with a null
// or empty key or value are skipped, a repeated key keeps its first value.
// count > kMaxParameterPairs: no source at all (not even the defaults).
// instrument_level_threshold is not changeable at run time.
ConfigSources sourcesFromPairs(uint32_t count, const char16_t* const* pairs);

// The same sources loaded into cfg.
void configureFromDefaultLocation(CConfiguration& cfg);
void configureFromProfileDir(CConfiguration& cfg, const std::u16string& dir);
void configureFromPairs(CConfiguration& cfg, uint32_t count, const char16_t* const* pairs);
