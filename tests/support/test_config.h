// Fresh configuration objects for tests: the given pairs, limits applied.
#pragma once

#include <string>
#include <vector>

#include "mox/config/configuration.h"
#include "mox/config/memory_profile.h"

inline void configureForTest(const std::vector<std::pair<std::u16string, std::u16string>>& pairs) {
  CConfiguration::destroyInstance();
  std::vector<CParameter> entries;
  for (const auto& [key, value] : pairs) entries.push_back(CParameter{key, value, false});
  CConfiguration::getInstance()->load({moxprofile::memoryProfile(entries)});
}
