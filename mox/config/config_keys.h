// The configuration keys, as they appear in mox.conf and in the parameter pairs.
#pragma once

namespace moxkeys {
inline constexpr char16_t kInstrumentLevelThreshold[] = u"instrument_level_threshold";
inline constexpr char16_t kInstrumentLevelThresholdTrace[] = u"instrument_level_threshold_trace";
inline constexpr char16_t kMaxComponentsPerTransaction[] = u"max_components_per_transaction";
inline constexpr char16_t kTracecheckInterval[] = u"tracecheck_interval";
inline constexpr char16_t kTracesizeThreshold[] = u"tracesize_threshold";
inline constexpr char16_t kTracePreviewTimeout[] = u"trace_preview_timeout";
inline constexpr char16_t kAutoTransactionTraceThreshold[] = u"auto_transaction_trace_threshold";
inline constexpr char16_t kDatasendingInterval[] = u"datasending_interval";
inline constexpr char16_t kZombieCheckInterval[] = u"zombie_check_interval";
inline constexpr char16_t kZombieTimeout[] = u"zombie_timeout";
inline constexpr char16_t kEmptyTimeout[] = u"empty_timeout";
inline constexpr char16_t kDatasendingMethod[] = u"datasending_method";
inline constexpr char16_t kLogdir[] = u"logdir";
// Agents 2..5 append "_" and the agent number to these.
inline constexpr char16_t kAgentHost[] = u"agent_host";
inline constexpr char16_t kAgentPort[] = u"agent_port";
inline constexpr char16_t kAgentType[] = u"agent_type";
inline constexpr char16_t kSystemName[] = u"system_name";
inline constexpr char16_t kCacheSectionCount[] = u"cache_section_count";
inline constexpr char16_t kLibTraceLevel[] = u"lib_trace_level";
inline constexpr char16_t kContextMapBucket[] = u"context_map_bucket";
inline constexpr char16_t kPerfMetricScope[] = u"perf_metric_scope";
inline constexpr char16_t kSkipTimesBelowThreshold[] = u"skip_times_below_threshold";
inline constexpr char16_t kSkipTimesInNames[] = u"skip_times_in_names";
inline constexpr char16_t kTraceEnabledViaEm[] = u"trace_enabled_via_em";
inline constexpr char16_t kTraceEnabledViaE2e[] = u"trace_enabled_via_e2e";
inline constexpr char16_t kSpecificComponentNames[] = u"specific_component_names";
inline constexpr char16_t kSpecificComponentLevelThresholds[] = u"specific_component_level_thresholds";
inline constexpr char16_t kSpecificComponentLevelThresholdsTrace[] =
    u"specific_component_level_thresholds_trace";
}  // namespace moxkeys
