#include "mox/dispatch/metric_format_source.h"

#include "mox/config/configuration.h"
#include "mox/context/context_manager.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"

namespace {

void appendPart(std::u16string& out, const char16_t* separator, const std::u16string& part) {
  if (part.empty()) return;
  out.append(separator).append(part);
}

}  // namespace

std::u16string currentVersionPrefix() {
  CMTContextManager* registry = CMTContextManager::getInstance();
  std::u16string prefix = CConfiguration::getInstance()->getSystemName();
  appendPart(prefix, u"|", registry->getProcessName());
  appendPart(prefix, u"_", registry->getInstanceNumber());
  return prefix;
}

MetricFormat currentMetricFormat() {
  CConfiguration* config = CConfiguration::getInstance();
  CMTContextManager* registry = CMTContextManager::getInstance();
  MetricFormat format;
  format.prefix = currentVersionPrefix();
  appendPart(format.prefix, u"|", registry->getInstancePrefix());
  format.agentType = config->getAgentType();
  format.scope = scopeNumber(config->getPerfMetricScope());
  // The format lives only for one data job, within the registry's life.
  format.isSkipped = [registry](std::u16string_view timingKey) { return registry->isSkipped(timingKey); };
  return format;
}

void runTraceAndDataJobs() {
  CMTTraceDataManager::getInstance()->processTrace(currentVersionPrefix());
  CPerfDataManager::getInstance()->processData(currentMetricFormat());
}
