#include "mox/config/config_sources.h"

#include <cstdlib>
#include <optional>
#include <utility>

#include "common/utf.h"
#include "mox/config/config_table.h"
#include "mox/config/configuration.h"
#include "mox/config/flatfile_profile.h"
#include "mox/config/memory_profile.h"
#include "port/config_directory.h"

namespace {

constexpr char16_t kConfigFileName[] = u"mox.conf";

// The built-in defaults, always the first source: every key of the table
// that has a default, with its changeable flag (kFromFile keys only when the
// configuration comes from mox.conf).
ParameterMap defaultsProfile(bool fromFile) {
  std::vector<CParameter> entries;
  entries.reserve(moxconfig::kKeyCount);
  for (const moxconfig::Entry& entry : moxconfig::kTable) {
    if (entry.defaultValue == nullptr) continue;
    const bool changeable =
        entry.changeable == moxconfig::kAlways || (fromFile && entry.changeable == moxconfig::kFromFile);
    entries.push_back(CParameter{entry.key, entry.defaultValue, changeable});
  }
  return moxprofile::memoryProfile(entries);
}

ConfigSources sourcesFromFile(const std::u16string& dir) {
  ConfigSources sources;
  sources.push_back(defaultsProfile(true));
  std::optional<ParameterMap> file = moxprofile::readFlatfileProfile(dir, kConfigFileName);
  if (file) sources.push_back(std::move(*file));
  return sources;
}

bool isPresent(const char16_t* text) { return text != nullptr && text[0] != u'\0'; }

}  // namespace

ConfigSources sourcesFromDefaultLocation() {
  const char* fromEnvironment = std::getenv("MOX_CONFIG");
  const bool useEnvironment = fromEnvironment != nullptr && fromEnvironment[0] != '\0';
  return sourcesFromFile(useEnvironment ? utf8ToUtf16Lenient(fromEnvironment) : portDefaultConfigDirectory());
}

ConfigSources sourcesFromProfileDir(const std::u16string& dir) { return sourcesFromFile(dir); }

ConfigSources sourcesFromPairs(uint32_t count, const char16_t* const* pairs) {
  if (count > kMaxParameterPairs) return {};
  std::vector<CParameter> entries;
  for (uint32_t i = 0; pairs != nullptr && i < count; ++i) {
    const char16_t* key = pairs[2 * i];
    const char16_t* value = pairs[2 * i + 1];
    if (isPresent(key) && isPresent(value)) entries.push_back(CParameter{key, value, false});
  }
  ConfigSources sources;
  sources.push_back(defaultsProfile(false));
  sources.push_back(moxprofile::memoryProfile(entries));
  return sources;
}

void configureFromDefaultLocation(CConfiguration& cfg) { cfg.load(sourcesFromDefaultLocation()); }

void configureFromProfileDir(CConfiguration& cfg, const std::u16string& dir) { cfg.load(sourcesFromProfileDir(dir)); }

void configureFromPairs(CConfiguration& cfg, uint32_t count, const char16_t* const* pairs) {
  cfg.load(sourcesFromPairs(count, pairs));
}
