#include "mox/config/config_sources.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "common/utf.h"
#include "mox/config/config_keys.h"
#include "mox/config/configuration.h"
#include "mox/config/flatfile_profile.h"
#include "mox/config/memory_profile.h"

using namespace moxkeys;

namespace {

constexpr char16_t kConfigFileName[] = u"mox.conf";
constexpr char16_t kDefaultConfigDir[] = u"/usr/vel/mox/config";

struct DefaultEntry {
  const char16_t* key;
  const char16_t* value;
};

// The built-in defaults, always the first source.
constexpr DefaultEntry kDefaults[] = {
    {kInstrumentLevelThreshold, u"10"},
    {kMaxComponentsPerTransaction, u"5000"},
    {kTracecheckInterval, u"5"},
    {kTracesizeThreshold, u"1000000"},
    {kTracePreviewTimeout, u"120"},
    {kAutoTransactionTraceThreshold, u"600"},
    {kDatasendingInterval, u"60"},
    {kDatasendingMethod, u"socket"},
    {kLogdir, u"/usr/vel/mox/log"},
    {kAgentHost, u"localhost"},
    {kAgentPort, u"59818"},
    {kAgentType, u"2"},
    {kSystemName, u"VEL_MOX"},
    {kZombieTimeout, u"1800"},
    {kEmptyTimeout, u"300"},
    {kZombieCheckInterval, u"300"},
    {kCacheSectionCount, u"2"},
    {kLibTraceLevel, u"1"},
    {kContextMapBucket, u"13"},
    {kPerfMetricScope, u"0"},
    {kSkipTimesBelowThreshold, u"500"},
    {kTraceEnabledViaEm, u"0"},
    {kTraceEnabledViaE2e, u"1"},
};

// The data-sending interval is always changeable; the level threshold only
// when the configuration came from a file.
std::unique_ptr<moxprofile::CProfile> makeDefaultsProfile(bool thresholdChangeable) {
  const std::u16string threshold(kInstrumentLevelThreshold);
  const std::u16string interval(kDatasendingInterval);
  std::vector<CParameter> entries;
  entries.reserve(sizeof kDefaults / sizeof kDefaults[0]);
  for (const DefaultEntry& d : kDefaults) {
    const std::u16string key(d.key);
    const bool changeable = key == interval || (thresholdChangeable && key == threshold);
    entries.push_back(CParameter{key, d.value, changeable});
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
