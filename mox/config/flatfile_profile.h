// The parameters of a flat text file (syntax in flatfile_syntax.h) as one
// configuration source, looked for in the configuration directory and then
// in the current working directory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "mox/config/parameter.h"

namespace moxprofile {

// Reads configDir + "/" + fileName (fileName in the current working
// directory when configDir is empty), else fileName in the current working
// directory: the parameters of the one read whole, or nothing. A file larger
// than kConfigFileMaxBytes is refused with an error line in the trace (the
// defaults stand; no other file is tried). Never throws (running out of
// memory reads as no file).
std::optional<ParameterMap> readFlatfileProfile(const std::u16string& configDir, const std::u16string& fileName);

// A configuration file is a few kilobytes; anything near this is not one,
// and reading it whole would cost the host's start-up time and memory.
constexpr size_t kConfigFileMaxBytes = 1u << 20;

enum class ConfigFileRead {
  Read,       // parsed into out
  NotOpened,  // path not convertible to UTF-8, not a regular file, or unreadable
  TooLarge,   // more than kConfigFileMaxBytes; nothing parsed
};

// Reads and parses one file. Unless Read, out is left unspecified (the
// caller discards it).
ConfigFileRead readConfigFile(const std::u16string& path, ParameterMap& out);

}  // namespace moxprofile
