// Configuration objects for tests: the given pairs, limits applied.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mox/config/configuration.h"
#include "mox/config/memory_profile.h"

using ConfigPairs = std::vector<std::pair<std::u16string, std::u16string>>;

// The pairs loaded into cfg over what it holds.
inline void configureForTest(CConfiguration& cfg, const ConfigPairs& pairs) {
  std::vector<CParameter> entries;
  for (const auto& [key, value] : pairs) entries.push_back(CParameter{key, value, false});
  cfg.load({moxprofile::memoryProfile(entries)});
}

// A fresh configuration from the pairs.
inline std::unique_ptr<CConfiguration> testConfiguration(const ConfigPairs& pairs) {
  auto cfg = std::make_unique<CConfiguration>();
  configureForTest(*cfg, pairs);
  return cfg;
}
