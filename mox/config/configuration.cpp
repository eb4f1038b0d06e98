#include "mox/config/configuration.h"

#include "common/process_wide.h"

#include <new>
#include <utility>

#include "common/number_text.h"
#include "common/utf.h"
#include "mox/config/config_keys.h"
#include "mox/config/number_reading.h"
#include "mox/config/profile.h"
#include "thr/thr_guards.h"

using namespace moxkeys;

namespace {

constexpr int kAgentCount = 5;
constexpr uint16_t kInitialAgentPort = 59818;
constexpr uint16_t kInitialAgentType = 2;
constexpr uint16_t kMinBucketCount = 4;
constexpr uint32_t kMaxBucketCount = 32768;

// Agent numbers outside 1..5 mean the first agent.
int agentIndex(int agent) { return (agent >= 1 && agent <= kAgentCount) ? agent - 1 : 0; }

// "agent_port" for agent 1, "agent_port_N" for the others.
std::u16string agentKey(const char16_t* base, int index) {
  std::u16string key(base);
  if (index > 0) {
    key += u'_';
    appendDecimal(key, static_cast<int32_t>(index + 1));
  }
  return key;
}

uint32_t atLeast(uint32_t value, uint32_t minimum) { return value < minimum ? minimum : value; }

}  // namespace

std::atomic<CConfiguration*> CConfiguration::instance_{nullptr};

CConfiguration* CConfiguration::createInstance() {
  return processWideInstance(instance_, [] { return new CConfiguration(); });
}

void CConfiguration::destroyInstance() { destroyProcessWide(instance_); }

void CConfiguration::abandonInstance() { abandonProcessWide(instance_); }

CConfiguration::CConfiguration()
    : instrumentLevelThreshold_(10),
      instrumentLevelThresholdTrace_(10),
      maxComponentsPerTransaction_(5000),
      tracecheckInterval_(5),
      tracesizeThreshold_(1000000),
      tracePreviewTimeout_(120),
      autoTransactionTraceThreshold_(600),
      datasendingInterval_(60),
      zombieCheckInterval_(60),
      zombieTimeout_(1800),
      emptyTimeout_(300),
      cacheSectionCount_(2),
      libTraceLevel_(1),
      perfMetricScope_(0),
      skipTimesBelowThreshold_(500),
      traceEnabledViaEm_(0),
      traceEnabledViaE2e_(1) {
  for (int i = 0; i < kAgentCount; ++i) {
    agentTypes_[i].store(kInitialAgentType, std::memory_order_relaxed);
    agentPorts_[i].store(kInitialAgentPort, std::memory_order_relaxed);
  }
  profiles_.reserve(5);
  ThrMutexInit(&lock_);
}

CConfiguration::~CConfiguration() { ThrMutexDelete(&lock_); }

void CConfiguration::setConfigDir(const std::u16string& dir) { configDir_ = dir; }

void CConfiguration::addProfile(std::unique_ptr<moxprofile::CProfile> profile) {
  if (profile) profiles_.push_back(std::move(profile));
}

void CConfiguration::loadProfiles() {
  ThrMutexGuard guard(&lock_);
  for (const auto& profile : profiles_) {
    try {
      ParameterMap loaded;
      profile->load(loaded, *this);
      if (profile->getStatus() != moxprofile::kProfileRead) continue;
      // Merged into a copy and swapped in, so that running out of memory
      // half-way leaves the table as the earlier profiles made it.
      ParameterMap merged = parameters_;
      for (auto& [key, entry] : loaded) {
        auto existing = merged.find(key);
        if (existing != merged.end()) {
          existing->second.value = std::move(entry.value);
        } else {
          merged.emplace(key, std::move(entry));
        }
      }
      parameters_.swap(merged);
    } catch (const std::bad_alloc&) {
      // This profile contributes nothing.
    }
  }
}

const std::u16string* CConfiguration::findValueLocked(const std::u16string& key) const {
  auto it = parameters_.find(key);
  return it == parameters_.end() ? nullptr : &it->second.value;
}

void CConfiguration::applyValues() {
  ThrMutexGuard guard(&lock_);
  applyValuesLocked();
}

void CConfiguration::applyValuesLocked() {
  auto text = [this](const std::u16string& key) -> std::u16string_view {
    const std::u16string* value = findValueLocked(key);
    return value ? std::u16string_view(*value) : std::u16string_view();
  };
  auto number = [&](const std::u16string& key) { return readNumber(text(key)); };

  const auto level = static_cast<uint16_t>(number(kInstrumentLevelThreshold));
  const std::u16string_view traceText = text(kInstrumentLevelThresholdTrace);
  const auto traceLevel = traceText.empty() ? level : static_cast<uint16_t>(readNumber(traceText));

  uint32_t tracecheck = number(kTracecheckInterval);
  if (tracecheck == 1) tracecheck = 2;

  uint32_t sending = number(kDatasendingInterval);
  if (sending >= 1 && sending <= 14) sending = 15;
  uint32_t zombieCheck = number(kZombieCheckInterval);
  if (zombieCheck != 0 && zombieCheck < sending) zombieCheck = sending;

  instrumentLevelThreshold_.store(level, std::memory_order_relaxed);
  instrumentLevelThresholdTrace_.store(traceLevel, std::memory_order_relaxed);
  maxComponentsPerTransaction_.store(number(kMaxComponentsPerTransaction), std::memory_order_relaxed);
  tracecheckInterval_.store(tracecheck, std::memory_order_relaxed);
  tracesizeThreshold_.store(atLeast(number(kTracesizeThreshold), 10000), std::memory_order_relaxed);
  tracePreviewTimeout_.store(atLeast(number(kTracePreviewTimeout), 30), std::memory_order_relaxed);
  autoTransactionTraceThreshold_.store(atLeast(number(kAutoTransactionTraceThreshold), 60),
                                       std::memory_order_relaxed);
  datasendingInterval_.store(sending, std::memory_order_relaxed);
  zombieCheckInterval_.store(zombieCheck, std::memory_order_relaxed);
  zombieTimeout_.store(atLeast(number(kZombieTimeout), zombieCheck), std::memory_order_relaxed);
  emptyTimeout_.store(atLeast(number(kEmptyTimeout), zombieCheck), std::memory_order_relaxed);

  // The first agent always takes its keys; the others only non-empty ones.
  for (int i = 0; i < kAgentCount; ++i) {
    const std::u16string_view value = text(agentKey(kAgentType, i));
    if (i == 0 || !value.empty()) agentTypes_[i].store(static_cast<uint16_t>(readNumber(value)), std::memory_order_relaxed);
  }
  for (int i = 0; i < kAgentCount; ++i) {
    const std::u16string_view value = text(agentKey(kAgentPort, i));
    if (i == 0 || !value.empty()) agentPorts_[i].store(static_cast<uint16_t>(readNumber(value)), std::memory_order_relaxed);
  }

  cacheSectionCount_.store(static_cast<uint16_t>(atLeast(static_cast<uint16_t>(number(kCacheSectionCount)), 2)),
                           std::memory_order_relaxed);
  libTraceLevel_.store(static_cast<int32_t>(number(kLibTraceLevel)), std::memory_order_relaxed);
  perfMetricScope_.store(static_cast<uint16_t>(number(kPerfMetricScope)), std::memory_order_relaxed);
  skipTimesBelowThreshold_.store(number(kSkipTimesBelowThreshold), std::memory_order_relaxed);
  traceEnabledViaEm_.store(static_cast<uint16_t>(number(kTraceEnabledViaEm)), std::memory_order_relaxed);
  traceEnabledViaE2e_.store(static_cast<uint16_t>(number(kTraceEnabledViaE2e)), std::memory_order_relaxed);
}

std::u16string CConfiguration::getValue(const std::u16string& key) const {
  ThrMutexGuard guard(&lock_);
  const std::u16string* value = findValueLocked(key);
  return value ? *value : std::u16string();
}

bool CConfiguration::setParameter(const std::u16string& key, const std::u16string& value) {
  ThrMutexGuard guard(&lock_);
  auto it = parameters_.find(key);
  if (it == parameters_.end() || !it->second.changeable) return false;
  it->second.value = value;
  applyValuesLocked();
  return true;
}

void CConfiguration::dumpParameters() const { dumpParameters(stdout); }

void CConfiguration::dumpParameters(std::FILE* out) const {
  ThrMutexGuard guard(&lock_);
  std::string line;
  for (const auto& [key, entry] : parameters_) {
    line.assign("Parameter Name: ");
    appendUtf16AsUtf8Lenient(key, line);
    line.append(" |Parameter Value: ");
    appendUtf16AsUtf8Lenient(entry.value, line);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
  }
}

uint16_t CConfiguration::getAgentType(int agent) const {
  return agentTypes_[agentIndex(agent)].load(std::memory_order_relaxed);
}

uint16_t CConfiguration::getAgentPort(int agent) const {
  return agentPorts_[agentIndex(agent)].load(std::memory_order_relaxed);
}

uint16_t CConfiguration::getContextMapBucketCount() const {
  const auto requested = static_cast<uint16_t>(readNumber(getValue(kContextMapBucket)));
  if (requested <= kMinBucketCount) return kMinBucketCount;
  if (requested > kMaxBucketCount) return static_cast<uint16_t>(kMaxBucketCount);
  uint32_t count = kMinBucketCount;
  while (count < requested) count <<= 1;
  return static_cast<uint16_t>(count);
}

std::u16string CConfiguration::getDatasendingMethod() const { return getValue(kDatasendingMethod); }
std::u16string CConfiguration::getLogdir() const { return getValue(kLogdir); }
std::u16string CConfiguration::getAgentHost(int agent) const {
  return getValue(agentKey(kAgentHost, agentIndex(agent)));
}
std::u16string CConfiguration::getSystemName() const { return getValue(kSystemName); }
std::u16string CConfiguration::getSkipTimesInNames() const { return getValue(kSkipTimesInNames); }
std::u16string CConfiguration::getSpecificComponentNames() const { return getValue(kSpecificComponentNames); }
std::u16string CConfiguration::getSpecificComponentLevelThresholds() const {
  return getValue(kSpecificComponentLevelThresholds);
}
std::u16string CConfiguration::getSpecificComponentLevelThresholdsTrace() const {
  return getValue(kSpecificComponentLevelThresholdsTrace);
}
