#include "mox/config/memory_profile.h"

namespace moxprofile {

CMemoryProfile::CMemoryProfile(const std::vector<CParameter>& entries) {
  for (const CParameter& entry : entries) parameters_.emplace(entry.name, entry);
}

ParameterMap& CMemoryProfile::load(ParameterMap& target, const CConfiguration& /*cfg*/) {
  status_ = kProfileRead;
  target.insert(parameters_.begin(), parameters_.end());
  return target;
}

}  // namespace moxprofile
