#include "mox/config/config_sources.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "common/utf.h"
#include "mox/config/config_table.h"
#include "mox/config/configuration.h"
#include "mox/config/flatfile_profile.h"
#include "mox/config/memory_profile.h"

namespace {

constexpr char16_t kConfigFileName[] = u"mox.conf";
constexpr char16_t kDefaultConfigDir[] = u"/usr/vel/mox/config";

// The built-in defaults, always the first source: every key of the table
// that has a default, with its changeable flag (kFromFile keys only when the
// configuration comes from mox.conf).
std::unique_ptr<moxprofile::CProfile> makeDefaultsProfile(bool fromFile) {
  std::vector<CParameter> entries;
  entries.reserve(moxconfig::kKeyCount);
  for (const moxconfig::Entry& entry : moxconfig::kTable) {
    if (entry.defaultValue == nullptr) continue;
    const bool changeable =
        entry.changeable == moxconfig::kAlways || (fromFile && entry.changeable == moxconfig::kFromFile);
    entries.push_back(CParameter{entry.key, entry.defaultValue, changeable});
  }
  return std::make_unique<moxprofile::CMemoryProfile>(entries);
}

void configureFromFile(CConfiguration& cfg, const std::u16string& dir) {
  cfg.setConfigDir(dir);
  cfg.addProfile(makeDefaultsProfile(true));
  cfg.addProfile(std::make_unique<moxprofile::CFlatfileProfile>(kConfigFileName));
  cfg.loadProfiles();
  cfg.applyValues();
}

bool isPresent(const char16_t* text) { return text != nullptr && text[0] != u'\0'; }

}  // namespace

void configureFromDefaultLocation(CConfiguration& cfg) {
  const char* fromEnvironment = std::getenv("MOX_CONFIG");
  const bool useEnvironment = fromEnvironment != nullptr && fromEnvironment[0] != '\0';
  configureFromFile(cfg, useEnvironment ? utf8ToUtf16Lenient(fromEnvironment) : std::u16string(kDefaultConfigDir));
}

void configureFromProfileDir(CConfiguration& cfg, const std::u16string& dir) { configureFromFile(cfg, dir); }

void configureFromPairs(CConfiguration& cfg, uint32_t count, const char16_t* const* pairs) {
  if (count > kMaxParameterPairs) return;
  std::vector<CParameter> entries;
  for (uint32_t i = 0; pairs != nullptr && i < count; ++i) {
    const char16_t* key = pairs[2 * i];
    const char16_t* value = pairs[2 * i + 1];
    if (isPresent(key) && isPresent(value)) entries.push_back(CParameter{key, value, false});
  }
  cfg.addProfile(makeDefaultsProfile(false));
  cfg.addProfile(std::make_unique<moxprofile::CMemoryProfile>(entries));
  cfg.loadProfiles();
  cfg.applyValues();
}
