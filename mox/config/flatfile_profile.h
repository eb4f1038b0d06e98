// moxprofile::CFlatfileProfile: the parameters of a flat text file
// (syntax in flatfile_syntax.h), looked for in the configuration directory
// and then in the current working directory.
#pragma once

#include <cstddef>
#include <string>

#include "mox/config/profile.h"

namespace moxprofile {

class CFlatfileProfile : public CProfile {
 public:
  explicit CFlatfileProfile(std::u16string fileName = u"mox.conf");

  // Reads configDir + "/" + fileName (fileName in the current working
  // directory when configDir is empty), else fileName in the current working
  // directory. Status kProfileRead when one was read whole; otherwise
  // kProfileNotOpened and the profile holds nothing. The file is parsed
  // completely before the profile's parameters are replaced. A file larger
  // than kConfigFileMaxBytes is refused with an error line in the trace (the
  // defaults stand; no other file is tried).
  ParameterMap& load(ParameterMap& target, const CConfiguration& cfg) override;
  int32_t getStatus() const override { return status_; }

  const std::u16string& getFileName() const { return fileName_; }

 private:
  std::u16string fileName_;
};

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
