#include "mox/dispatch/metric_format_source.h"

std::u16string versionPrefix(const CConfiguration& cfg, const ProcessIdentity& identity) {
  return identity.versionPrefix(cfg.getSystemName());
}

MetricFormat metricFormat(const CConfiguration& cfg, const ProcessIdentity& identity) {
  MetricFormat format;
  format.prefix = identity.metricPrefix(cfg.getSystemName());
  format.agentType = cfg.getAgentType();
  format.scope = cfg.getPerfMetricScope();
  return format;
}
