// CConfiguration: the configuration of one library object.
//
// Holds every parameter as text in an ordered table (key -> CParameter),
// filled from the configuration sources in order, and the numeric parameters
// as typed fields with their limits applied. Keys, defaults, initial values
// and limits are those of moxconfig::kTable (config_table.h).
//
// Locking: the table is read and replaced under the object's mutex (getValue,
// setParameter, setNumber, dumpParameters, load), which is never held while
// anything else is called. The typed fields are atomics, read by any thread
// without a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "mox/config/config_table.h"
#include "mox/config/parameter.h"
#include "mox/config/perf_metric_scope.h"
#include "thr/thr_plain_mutex.h"

class CConfiguration {
 public:
  // Merges the sources (config_sources.h) in order into the table: a key of a
  // later source replaces the value of an existing entry (keeping its
  // changeable flag) or enters as it came; a source that cannot be merged
  // whole (out of memory) contributes nothing. Then derives every typed field
  // from the table with its limits, in table order (each limit sees the
  // fields derived before it). Without any source nothing changes.
  void load(const std::vector<ParameterMap>& sources);

  // Copy of the current value, or "" when the key is not in the table.
  std::u16string getValue(const std::u16string& key) const;
  // Replaces a changeable entry's value and re-derives the typed fields.
  bool setParameter(const std::u16string& key, const std::u16string& value);
  // The same with a number, which the table keeps as its decimal text and
  // converts as it converts every value (limits included).
  bool setNumber(moxconfig::Key key, uint32_t number);
  // "Parameter Name: <key> |Parameter Value: <value>" per entry, key order, to stdout.
  void dumpParameters() const;
  // The same to the given stream (UTF-8), in one write and flush made outside
  // the lock that raises no SIGPIPE or SIGXFSZ in the host.
  void dumpParameters(std::FILE* out) const;

  // Typed fields (limits applied); each getter is one relaxed load of its
  // field, and its type is checked against the key's row at compile time.
  uint16_t getInstrumentLevelThreshold() const { return field<uint16_t, moxconfig::kInstrumentLevelThreshold>(); }
  uint16_t getInstrumentLevelThresholdTrace() const {
    return field<uint16_t, moxconfig::kInstrumentLevelThresholdTrace>();
  }
  uint32_t getMaxComponentsPerTransaction() const { return field<uint32_t, moxconfig::kMaxComponentsPerTransaction>(); }
  uint32_t getTracecheckInterval() const { return field<uint32_t, moxconfig::kTracecheckInterval>(); }
  uint32_t getTracesizeThreshold() const { return field<uint32_t, moxconfig::kTracesizeThreshold>(); }
  uint32_t getTracePreviewTimeout() const { return field<uint32_t, moxconfig::kTracePreviewTimeout>(); }
  uint32_t getAutoTransactionTraceThreshold() const {
    return field<uint32_t, moxconfig::kAutoTransactionTraceThreshold>();
  }
  uint32_t getDatasendingInterval() const { return field<uint32_t, moxconfig::kDatasendingInterval>(); }
  uint32_t getZombieCheckInterval() const { return field<uint32_t, moxconfig::kZombieCheckInterval>(); }
  uint32_t getZombieTimeout() const { return field<uint32_t, moxconfig::kZombieTimeout>(); }
  uint32_t getEmptyTimeout() const { return field<uint32_t, moxconfig::kEmptyTimeout>(); }
  // Agents are numbered 1..5; index outside that range gives agent 1.
  uint16_t getAgentType(int agent = 1) const;
  uint16_t getAgentPort(int agent = 1) const;
  uint16_t getCacheSectionCount() const { return field<uint16_t, moxconfig::kCacheSectionCount>(); }
  int32_t getLibTraceLevel() const { return field<int32_t, moxconfig::kLibTraceLevel>(); }
  PerfMetricScope getPerfMetricScope() const { return field<PerfMetricScope, moxconfig::kPerfMetricScope>(); }
  uint32_t getSkipTimesBelowThreshold() const { return field<uint32_t, moxconfig::kSkipTimesBelowThreshold>(); }
  uint16_t getTraceEnabledViaEm() const { return field<uint16_t, moxconfig::kTraceEnabledViaEm>(); }
  uint16_t getTraceEnabledViaE2e() const { return field<uint16_t, moxconfig::kTraceEnabledViaE2e>(); }
  // Timing keys recorded per interval beyond which calls of further keys are
  // counted under one key; 0: no bound.
  uint32_t getMaxTimingKeysPerInterval() const { return field<uint32_t, moxconfig::kMaxTimingKeysPerInterval>(); }
  // Contexts registered at once beyond which new ones are refused; 0: no bound.
  uint32_t getMaxOpenContexts() const { return field<uint32_t, moxconfig::kMaxOpenContexts>(); }
  // context_map_bucket rounded up to a power of two, at least 4 and at most
  // 32768 (the largest that fits 16 bits); read from the table at each call.
  uint16_t getContextMapBucketCount() const;

  // Text parameters, read at each call.
  std::u16string getDatasendingMethod() const { return textOf(moxconfig::kDatasendingMethod); }
  std::u16string getLogdir() const { return textOf(moxconfig::kLogdir); }
  std::u16string getAgentHost(int agent = 1) const;  // 1..5
  std::u16string getSystemName() const { return textOf(moxconfig::kSystemName); }
  std::u16string getSkipTimesInNames() const { return textOf(moxconfig::kSkipTimesInNames); }
  std::u16string getSpecificComponentNames() const { return textOf(moxconfig::kSpecificComponentNames); }
  std::u16string getSpecificComponentLevelThresholds() const {
    return textOf(moxconfig::kSpecificComponentLevelThresholds);
  }
  std::u16string getSpecificComponentLevelThresholdsTrace() const {
    return textOf(moxconfig::kSpecificComponentLevelThresholdsTrace);
  }

  CConfiguration();
  ~CConfiguration() = default;
  CConfiguration(const CConfiguration&) = delete;
  CConfiguration& operator=(const CConfiguration&) = delete;

 private:
  template <typename T>
  static constexpr bool isFieldType(moxconfig::Type type) {
    switch (type) {
      case moxconfig::kU16: return std::is_same_v<T, uint16_t> || std::is_same_v<T, PerfMetricScope>;
      case moxconfig::kU32: return std::is_same_v<T, uint32_t>;
      case moxconfig::kI32: return std::is_same_v<T, int32_t>;
      default: return false;
    }
  }
  template <typename T, moxconfig::Key K>
  T field() const {
    static_assert(isFieldType<T>(moxconfig::entryOf(K).type), "the getter's type is the key's field type");
    return static_cast<T>(fields_[K].load(std::memory_order_relaxed));
  }
  std::u16string textOf(moxconfig::Key key) const { return getValue(moxconfig::keyText(key)); }
  const std::u16string* findValueLocked(const std::u16string& key) const REQUIRES(lock_);
  void mergeLocked(const ParameterMap& source) REQUIRES(lock_);
  bool setValueLocked(const std::u16string& key, std::u16string value) REQUIRES(lock_);
  void applyValuesLocked() REQUIRES(lock_);

  mutable ThrPlainMutex lock_;
  ParameterMap parameters_ GUARDED_BY(lock_);

  // The typed field of every key, indexed by moxconfig::Key, each cut to its
  // type's width (kText keys leave theirs unused).
  std::atomic<uint32_t> fields_[moxconfig::kKeyCount];
};
