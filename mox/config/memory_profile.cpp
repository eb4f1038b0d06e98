#include "mox/config/memory_profile.h"

namespace moxprofile {

ParameterMap memoryProfile(const std::vector<CParameter>& entries) {
  ParameterMap table;
  for (const CParameter& entry : entries) table.emplace(entry.name, entry);
  return table;
}

}  // namespace moxprofile
