#include "mox/config/configuration.h"

#include <new>
#include <utility>

#include "common/number_text.h"
#include "common/utf.h"
#include "mox/config/number_reading.h"
#include "port/quiet_write.h"

namespace {

constexpr uint16_t kMinBucketCount = 4;
constexpr uint32_t kMaxBucketCount = 32768;

// Agent numbers outside 1..5 mean the first agent.
int agentIndex(int agent) { return (agent >= 1 && agent <= moxconfig::kAgentCount) ? agent - 1 : 0; }

}  // namespace

CConfiguration::CConfiguration() {
  for (const moxconfig::Entry& entry : moxconfig::kTable) {
    fields_[entry.id].store(entry.initial, std::memory_order_relaxed);
  }
}

void CConfiguration::load(const std::vector<ParameterMap>& sources) {
  if (sources.empty()) return;
  ThrPlainMutexHold guard(lock_);
  for (const ParameterMap& source : sources) {
    try {
      mergeLocked(source);
    } catch (const std::bad_alloc&) {
      // This source contributes nothing.
    }
  }
  applyValuesLocked();
}

// Merged into a copy and swapped in, so that running out of memory half-way
// leaves the table as the earlier sources made it.
void CConfiguration::mergeLocked(const ParameterMap& source) {
  ParameterMap merged = parameters_;
  for (const auto& [key, entry] : source) {
    auto existing = merged.find(key);
    if (existing != merged.end()) {
      existing->second.value = entry.value;
    } else {
      merged.emplace(key, entry);
    }
  }
  parameters_.swap(merged);
}

const std::u16string* CConfiguration::findValueLocked(const std::u16string& key) const {
  auto it = parameters_.find(key);
  return it == parameters_.end() ? nullptr : &it->second.value;
}

// One pass in table order, so that a limit naming another key sees that
// key's field as derived just before.
void CConfiguration::applyValuesLocked() {
  for (const moxconfig::Entry& entry : moxconfig::kTable) {
    if (!moxconfig::hasField(entry)) continue;
    const std::u16string* text = findValueLocked(entry.key);
    const moxconfig::Key other = entry.limit.other;
    const uint32_t otherField = other == moxconfig::kKeyCount ? 0 : fields_[other].load(std::memory_order_relaxed);
    uint32_t value = 0;
    if (moxconfig::convertValue(entry, text ? std::u16string_view(*text) : std::u16string_view(), otherField, value)) {
      fields_[entry.id].store(value, std::memory_order_relaxed);
    }
  }
}

std::u16string CConfiguration::getValue(const std::u16string& key) const {
  ThrPlainMutexHold guard(lock_);
  const std::u16string* value = findValueLocked(key);
  return value ? *value : std::u16string();
}

bool CConfiguration::setValueLocked(const std::u16string& key, std::u16string value) {
  auto it = parameters_.find(key);
  if (it == parameters_.end() || !it->second.changeable) return false;
  it->second.value = std::move(value);
  applyValuesLocked();
  return true;
}

bool CConfiguration::setParameter(const std::u16string& key, const std::u16string& value) {
  ThrPlainMutexHold guard(lock_);
  return setValueLocked(key, value);
}

bool CConfiguration::setNumber(moxconfig::Key key, uint32_t number) {
  const std::u16string text = decimalText(number);
  ThrPlainMutexHold guard(lock_);
  return setValueLocked(moxconfig::keyText(key), text);
}

void CConfiguration::dumpParameters() const { dumpParameters(stdout); }

// Written outside the lock and without signals: the host's standard output
// may be a pipe that nobody drains or whose reader has gone.
void CConfiguration::dumpParameters(std::FILE* out) const {
  std::string text;
  {
    ThrPlainMutexHold guard(lock_);
    for (const auto& [key, entry] : parameters_) {
      text.append("Parameter Name: ");
      appendUtf16AsUtf8Lenient(key, text);
      text.append(" |Parameter Value: ");
      appendUtf16AsUtf8Lenient(entry.value, text);
      text.push_back('\n');
    }
  }
  portWriteStreamQuietly(out, text.data(), text.size());
}

uint16_t CConfiguration::getAgentType(int agent) const {
  const moxconfig::Key key = moxconfig::agentKey(moxconfig::kAgentType, agentIndex(agent));
  return static_cast<uint16_t>(fields_[key].load(std::memory_order_relaxed));
}

uint16_t CConfiguration::getAgentPort(int agent) const {
  const moxconfig::Key key = moxconfig::agentKey(moxconfig::kAgentPort, agentIndex(agent));
  return static_cast<uint16_t>(fields_[key].load(std::memory_order_relaxed));
}

uint16_t CConfiguration::getContextMapBucketCount() const {
  const auto requested = static_cast<uint16_t>(readNumber(textOf(moxconfig::kContextMapBucket)));
  if (requested <= kMinBucketCount) return kMinBucketCount;
  if (requested > kMaxBucketCount) return static_cast<uint16_t>(kMaxBucketCount);
  uint32_t count = kMinBucketCount;
  while (count < requested) count <<= 1;
  return static_cast<uint16_t>(count);
}

std::u16string CConfiguration::getAgentHost(int agent) const {
  return textOf(moxconfig::agentKey(moxconfig::kAgentHost, agentIndex(agent)));
}
