// moxprofile::CMemoryProfile: parameters given in memory (the built-in
// defaults, or the pairs of the parameter initialisation).
#pragma once

#include <vector>

#include "mox/config/profile.h"

namespace moxprofile {

class CMemoryProfile : public CProfile {
 public:
  // Entries in order; a key given twice keeps its first entry.
  explicit CMemoryProfile(const std::vector<CParameter>& entries);

  // Always succeeds: status becomes kProfileRead.
  ParameterMap& load(ParameterMap& target, const CConfiguration& cfg) override;
  int32_t getStatus() const override { return status_; }
};

}  // namespace moxprofile
