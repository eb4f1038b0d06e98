// moxprofile::CFlatfileProfile: the parameters of a flat text file
// (syntax in flatfile_syntax.h), looked for in the configuration directory
// and then in the current working directory.
#pragma once

#include <string>

#include "mox/config/profile.h"

namespace moxprofile {

class CFlatfileProfile : public CProfile {
 public:
  explicit CFlatfileProfile(std::u16string fileName = u"mox.conf");

  // Reads configDir + "/" + fileName, else fileName in the current working
  // directory. Status kProfileRead when one was read whole; otherwise
  // kProfileNotOpened and the profile holds nothing. The file is parsed
  // completely before the profile's parameters are replaced.
  ParameterMap& load(ParameterMap& target, const CConfiguration& cfg) override;
  int32_t getStatus() const override { return status_; }

  const std::u16string& getFileName() const { return fileName_; }

 private:
  std::u16string fileName_;
};

// Reads and parses one file. False when the path cannot be converted to
// UTF-8, the file is not a regular file, or it cannot be opened or read;
// out is then left unspecified (the caller discards it).
bool readConfigFile(const std::u16string& path, ParameterMap& out);

}  // namespace moxprofile
