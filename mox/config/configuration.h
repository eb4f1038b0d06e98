// CConfiguration: the one configuration object of the process.
//
// Holds every parameter as text in an ordered table (key -> CParameter),
// filled from the profiles in order, and the numeric parameters as typed
// fields with their limits applied (applyValues).
//
// Locking: the table is read and replaced under the object's mutex
// (getValue, setParameter, dumpParameters, loadProfiles). The typed fields
// are atomics, read by any thread without a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mox/config/parameter.h"
#include "thr/thr.h"

namespace moxprofile {
class CProfile;
}

class CConfiguration {
 public:
  // Inline fast path: every timing call asks for the object several times.
  static CConfiguration* getInstance() {
    CConfiguration* current = instance_.load(std::memory_order_acquire);
    return current != nullptr ? current : createInstance();
  }
  static void destroyInstance();
  static void abandonInstance();  // forgets it untouched (forked child)

  void setConfigDir(const std::u16string& dir);
  const std::u16string& getConfigDir() const { return configDir_; }
  void addProfile(std::unique_ptr<moxprofile::CProfile> profile);  // takes ownership
  // Merges every profile in order into the table, under the lock: a loaded
  // key replaces the value of an existing entry (keeping its changeable flag)
  // or enters as loaded. A profile that fails or cannot be merged whole
  // contributes nothing.
  void loadProfiles();
  // Derives every typed field from the table with its limits (fixed order:
  // each limit sees the fields derived before it).
  void applyValues();

  // Copy of the current value, or "" when the key is not in the table.
  std::u16string getValue(const std::u16string& key) const;
  // Replaces a changeable entry's value and re-derives the typed fields.
  bool setParameter(const std::u16string& key, const std::u16string& value);
  // "Parameter Name: <key> |Parameter Value: <value>" per entry, key order, to stdout.
  void dumpParameters() const;
  // The same to the given stream (UTF-8, one flush per line).
  void dumpParameters(std::FILE* out) const;

  // Typed fields (limits applied).
  uint16_t getInstrumentLevelThreshold() const { return instrumentLevelThreshold_.load(std::memory_order_relaxed); }
  uint16_t getInstrumentLevelThresholdTrace() const { return instrumentLevelThresholdTrace_.load(std::memory_order_relaxed); }
  uint32_t getMaxComponentsPerTransaction() const { return maxComponentsPerTransaction_.load(std::memory_order_relaxed); }
  uint32_t getTracecheckInterval() const { return tracecheckInterval_.load(std::memory_order_relaxed); }
  uint32_t getTracesizeThreshold() const { return tracesizeThreshold_.load(std::memory_order_relaxed); }
  uint32_t getTracePreviewTimeout() const { return tracePreviewTimeout_.load(std::memory_order_relaxed); }
  uint32_t getAutoTransactionTraceThreshold() const { return autoTransactionTraceThreshold_.load(std::memory_order_relaxed); }
  uint32_t getDatasendingInterval() const { return datasendingInterval_.load(std::memory_order_relaxed); }
  uint32_t getZombieCheckInterval() const { return zombieCheckInterval_.load(std::memory_order_relaxed); }
  uint32_t getZombieTimeout() const { return zombieTimeout_.load(std::memory_order_relaxed); }
  uint32_t getEmptyTimeout() const { return emptyTimeout_.load(std::memory_order_relaxed); }
  // Agents are numbered 1..5; index outside that range gives agent 1.
  uint16_t getAgentType(int agent = 1) const;
  uint16_t getAgentPort(int agent = 1) const;
  uint16_t getCacheSectionCount() const { return cacheSectionCount_.load(std::memory_order_relaxed); }
  int32_t getLibTraceLevel() const { return libTraceLevel_.load(std::memory_order_relaxed); }
  uint16_t getPerfMetricScope() const { return perfMetricScope_.load(std::memory_order_relaxed); }
  uint32_t getSkipTimesBelowThreshold() const { return skipTimesBelowThreshold_.load(std::memory_order_relaxed); }
  uint16_t getTraceEnabledViaEm() const { return traceEnabledViaEm_.load(std::memory_order_relaxed); }
  uint16_t getTraceEnabledViaE2e() const { return traceEnabledViaE2e_.load(std::memory_order_relaxed); }
  // context_map_bucket rounded up to a power of two, at least 4 and at most
  // 32768 (the largest that fits 16 bits); read from the table at each call.
  uint16_t getContextMapBucketCount() const;

  // Text parameters, read at each call.
  std::u16string getDatasendingMethod() const;
  std::u16string getLogdir() const;
  std::u16string getAgentHost(int agent = 1) const;  // 1..5
  std::u16string getSystemName() const;
  std::u16string getSkipTimesInNames() const;
  std::u16string getSpecificComponentNames() const;
  std::u16string getSpecificComponentLevelThresholds() const;
  std::u16string getSpecificComponentLevelThresholdsTrace() const;

  ~CConfiguration();

 private:
  CConfiguration();
  static CConfiguration* createInstance();
  static std::atomic<CConfiguration*> instance_;
  // Both expect lock_ to be held.
  const std::u16string* findValueLocked(const std::u16string& key) const;
  void applyValuesLocked();

  std::u16string configDir_;
  std::vector<std::unique_ptr<moxprofile::CProfile>> profiles_;
  std::map<std::u16string, CParameter> parameters_;
  mutable ThrMutex lock_;

  std::atomic<uint16_t> instrumentLevelThreshold_;
  std::atomic<uint16_t> instrumentLevelThresholdTrace_;
  std::atomic<uint32_t> maxComponentsPerTransaction_;
  std::atomic<uint32_t> tracecheckInterval_;
  std::atomic<uint32_t> tracesizeThreshold_;
  std::atomic<uint32_t> tracePreviewTimeout_;
  std::atomic<uint32_t> autoTransactionTraceThreshold_;
  std::atomic<uint32_t> datasendingInterval_;
  std::atomic<uint32_t> zombieCheckInterval_;
  std::atomic<uint32_t> zombieTimeout_;
  std::atomic<uint32_t> emptyTimeout_;
  std::atomic<uint16_t> agentTypes_[5];
  std::atomic<uint16_t> agentPorts_[5];
  std::atomic<uint16_t> cacheSectionCount_;
  std::atomic<int32_t> libTraceLevel_;
  std::atomic<uint16_t> perfMetricScope_;
  std::atomic<uint32_t> skipTimesBelowThreshold_;
  std::atomic<uint16_t> traceEnabledViaEm_;
  std::atomic<uint16_t> traceEnabledViaE2e_;
};
