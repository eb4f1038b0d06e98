// The configuration keys, one row each: the key's text, its built-in default
// (the defaults are the first source of every initialisation), the type and
// initial value of its typed field, whether the run-time setter may change it,
// and the limit the conversion applies.
//
// Rows stand in the order in which applyValues derives the typed fields, and
// that order matters: a limit that names another key reads that key's field
// as derived earlier in the same pass (zombie_check_interval after
// datasending_interval, the timeouts after zombie_check_interval). Row i
// describes Key i. Both, and the uniqueness of the key texts, are checked at
// compile time (config_table.cpp).
//
// Everything here is constant; nothing locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace moxconfig {

enum Key : uint8_t {
  // Keys with a typed field, in the order of derivation.
  kInstrumentLevelThreshold,
  kInstrumentLevelThresholdTrace,
  kMaxComponentsPerTransaction,
  kTracecheckInterval,
  kTracesizeThreshold,
  kTracePreviewTimeout,
  kAutoTransactionTraceThreshold,
  kDatasendingInterval,
  kZombieCheckInterval,
  kZombieTimeout,
  kEmptyTimeout,
  kAgentType,
  kAgentType2,
  kAgentType3,
  kAgentType4,
  kAgentType5,
  kAgentPort,
  kAgentPort2,
  kAgentPort3,
  kAgentPort4,
  kAgentPort5,
  kCacheSectionCount,
  kLibTraceLevel,
  kPerfMetricScope,
  kSkipTimesBelowThreshold,
  kTraceEnabledViaEm,
  kTraceEnabledViaE2e,
  kMaxTimingKeysPerInterval,
  kMaxOpenContexts,
  // Keys without a typed field: read from the table at each call.
  kContextMapBucket,
  kDatasendingMethod,
  kLogdir,
  kAgentHost,
  kAgentHost2,
  kAgentHost3,
  kAgentHost4,
  kAgentHost5,
  kSystemName,
  kSkipTimesInNames,
  kSpecificComponentNames,
  kSpecificComponentLevelThresholds,
  kSpecificComponentLevelThresholdsTrace,
  kKeyCount
};

// The collecting agents are numbered 1..5; each of their keys has five
// consecutive Keys, agent 1 first.
constexpr int kAgentCount = 5;
constexpr Key agentKey(Key firstAgent, int agentIndex) {  // agentIndex 0..4
  return static_cast<Key>(firstAgent + agentIndex);
}

// The typed field of a key. A number is read from its text (readNumber) and
// cut to the field's width before the limit applies. kText keys have no field.
enum Type : uint8_t { kText, kU16, kU32, kI32 };

// Whether the run-time setter may replace the value.
enum Changeable : uint8_t {
  kNever,
  kAlways,
  kFromFile,  // when the configuration came from mox.conf, not from parameter pairs
};

enum class LimitKind : uint8_t {
  kNone,
  kAtLeast,            // a value below the minimum becomes the minimum
  kAtLeastUnlessZero,  // the same, but 0 stays 0 (0 switches the feature off)
  kOnlyWhenGiven,      // an empty or absent value leaves the field as it is
  kEmptyFollows,       // an empty or absent value takes the field of `other`
};

// The minimum is `minimum`, or the field of `other` where other is a key.
struct Limit {
  LimitKind kind;
  uint32_t minimum;
  Key other;
};

constexpr Limit none() { return {LimitKind::kNone, 0, kKeyCount}; }
constexpr Limit atLeast(uint32_t minimum) { return {LimitKind::kAtLeast, minimum, kKeyCount}; }
constexpr Limit atLeast(Key field) { return {LimitKind::kAtLeast, 0, field}; }
constexpr Limit atLeastUnlessZero(uint32_t minimum) { return {LimitKind::kAtLeastUnlessZero, minimum, kKeyCount}; }
constexpr Limit atLeastUnlessZero(Key field) { return {LimitKind::kAtLeastUnlessZero, 0, field}; }
constexpr Limit onlyWhenGiven() { return {LimitKind::kOnlyWhenGiven, 0, kKeyCount}; }
constexpr Limit emptyFollows(Key field) { return {LimitKind::kEmptyFollows, 0, field}; }

struct Entry {
  Key id;
  const char16_t* key;
  const char16_t* defaultValue;  // nullptr: not among the built-in defaults
  Type type;
  uint32_t initial;  // the field's value before any source is applied
  Changeable changeable;
  Limit limit;
};

constexpr Entry textKey(Key id, const char16_t* key, const char16_t* defaultValue) {
  return {id, key, defaultValue, kText, 0, kNever, none()};
}

// clang-format off
inline constexpr Entry kTable[] = {
    // id                            key                                  default     type  initial  changeable limit
    {kInstrumentLevelThreshold,      u"instrument_level_threshold",       u"10",      kU16, 10,      kFromFile, none()},
    {kInstrumentLevelThresholdTrace, u"instrument_level_threshold_trace", nullptr,    kU16, 10,      kNever,    emptyFollows(kInstrumentLevelThreshold)},
    {kMaxComponentsPerTransaction,   u"max_components_per_transaction",   u"5000",    kU32, 5000,    kNever,    none()},
    {kTracecheckInterval,            u"tracecheck_interval",              u"5",       kU32, 5,       kNever,    atLeastUnlessZero(2)},
    {kTracesizeThreshold,            u"tracesize_threshold",              u"1000000", kU32, 1000000, kNever,    atLeast(10000)},
    {kTracePreviewTimeout,           u"trace_preview_timeout",            u"120",     kU32, 120,     kNever,    atLeast(30)},
    {kAutoTransactionTraceThreshold, u"auto_transaction_trace_threshold", u"600",     kU32, 600,     kNever,    atLeast(60)},
    {kDatasendingInterval,           u"datasending_interval",             u"60",      kU32, 60,      kAlways,   atLeastUnlessZero(15)},
    {kZombieCheckInterval,           u"zombie_check_interval",            u"300",     kU32, 60,      kNever,    atLeastUnlessZero(kDatasendingInterval)},
    {kZombieTimeout,                 u"zombie_timeout",                   u"1800",    kU32, 1800,    kNever,    atLeast(kZombieCheckInterval)},
    {kEmptyTimeout,                  u"empty_timeout",                    u"300",     kU32, 300,     kNever,    atLeast(kZombieCheckInterval)},
    {kAgentType,                     u"agent_type",                       u"2",       kU16, 2,       kNever,    none()},
    {kAgentType2,                    u"agent_type_2",                     nullptr,    kU16, 2,       kNever,    onlyWhenGiven()},
    {kAgentType3,                    u"agent_type_3",                     nullptr,    kU16, 2,       kNever,    onlyWhenGiven()},
    {kAgentType4,                    u"agent_type_4",                     nullptr,    kU16, 2,       kNever,    onlyWhenGiven()},
    {kAgentType5,                    u"agent_type_5",                     nullptr,    kU16, 2,       kNever,    onlyWhenGiven()},
    {kAgentPort,                     u"agent_port",                       u"59818",   kU16, 59818,   kNever,    none()},
    {kAgentPort2,                    u"agent_port_2",                     nullptr,    kU16, 59818,   kNever,    onlyWhenGiven()},
    {kAgentPort3,                    u"agent_port_3",                     nullptr,    kU16, 59818,   kNever,    onlyWhenGiven()},
    {kAgentPort4,                    u"agent_port_4",                     nullptr,    kU16, 59818,   kNever,    onlyWhenGiven()},
    {kAgentPort5,                    u"agent_port_5",                     nullptr,    kU16, 59818,   kNever,    onlyWhenGiven()},
    {kCacheSectionCount,             u"cache_section_count",              u"2",       kU16, 2,       kNever,    atLeast(2)},
    {kLibTraceLevel,                 u"lib_trace_level",                  u"1",       kI32, 1,       kNever,    none()},
    {kPerfMetricScope,               u"perf_metric_scope",                u"0",       kU16, 0,       kNever,    none()},
    {kSkipTimesBelowThreshold,       u"skip_times_below_threshold",       u"500",     kU32, 500,     kNever,    none()},
    {kTraceEnabledViaEm,             u"trace_enabled_via_em",             u"0",       kU16, 0,       kNever,    none()},
    {kTraceEnabledViaE2e,            u"trace_enabled_via_e2e",            u"1",       kU16, 1,       kNever,    none()},
    // Bounds on the memory of keys and contexts; 0: no bound.
    {kMaxTimingKeysPerInterval,      u"max_timing_keys_per_interval",     u"100000",  kU32, 100000,  kNever,    none()},
    {kMaxOpenContexts,               u"max_open_contexts",                u"100000",  kU32, 100000,  kNever,    none()},
    // A number, rounded to a bucket count by its getter at each call:
    textKey(kContextMapBucket,                      u"context_map_bucket",                        u"13"),
    // Texts, read at each call:
    textKey(kDatasendingMethod,                     u"datasending_method",                        u"socket"),
    textKey(kLogdir,                                u"logdir",                                    u"/usr/vel/mox/log"),
    textKey(kAgentHost,                             u"agent_host",                                u"localhost"),
    textKey(kAgentHost2,                            u"agent_host_2",                              nullptr),
    textKey(kAgentHost3,                            u"agent_host_3",                              nullptr),
    textKey(kAgentHost4,                            u"agent_host_4",                              nullptr),
    textKey(kAgentHost5,                            u"agent_host_5",                              nullptr),
    textKey(kSystemName,                            u"system_name",                               u"VEL_MOX"),
    textKey(kSkipTimesInNames,                      u"skip_times_in_names",                       nullptr),
    textKey(kSpecificComponentNames,                u"specific_component_names",                  nullptr),
    textKey(kSpecificComponentLevelThresholds,      u"specific_component_level_thresholds",       nullptr),
    textKey(kSpecificComponentLevelThresholdsTrace, u"specific_component_level_thresholds_trace", nullptr),
};
// clang-format on

constexpr const Entry& entryOf(Key key) { return kTable[key]; }
constexpr const char16_t* keyText(Key key) { return kTable[key].key; }
constexpr bool hasField(const Entry& entry) { return entry.type != kText; }

// The new value of entry's typed field from its text (empty for an absent
// key). other is the derived field of entry.limit.other where that names a
// key. False: the field keeps its value.
bool convertValue(const Entry& entry, std::u16string_view text, uint32_t other, uint32_t& value);

}  // namespace moxconfig
