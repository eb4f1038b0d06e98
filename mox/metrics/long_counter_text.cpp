// The LongCounter metric text of one resource record.
#include <string>

#include "mox/metrics/metric_line.h"
#include "mox/metrics/perf_data_manager.h"

namespace {

constexpr std::u16string_view kLongCounter = u"LongCounter";
constexpr std::u16string_view kCurrentValue = u"Current Value";

// Current value with the interval's watermarks and count, then one line per KPI.
void fullCounterLines(MetricLineWriter& out, const ResourceValues& v, const KpiMap& kpis) {
  out.open(kLongCounter, kCurrentValue, v.current);
  out.attribute(u"max", v.high);
  out.attribute(u"min", v.low);
  out.attribute(u"count", v.count);  // unsigned 32-bit
  out.close();
  for (const auto& [kpiName, value] : kpis) {
    out.open(kLongCounter, kpiName, value);
    out.attribute(u"count", uint32_t{1});
    out.close();
  }
}

}  // namespace

std::u16string CPerfDataManager::formatLongCounter(const CResourceRecord& record, const MetricFormat& format) {
  const ResourceValues v = record.snapshot();
  MetricLineWriter out(format.prefix, record.name());
  if (format.agentType != 2) {
    out.line(kLongCounter, kCurrentValue, v.current);
    out.line(kLongCounter, u"High Watermark", v.high);
    out.line(kLongCounter, u"Low Watermark", v.low);
  } else if (v.fullCounter) {
    fullCounterLines(out, v, record.kpis());
  } else {
    out.line(u"LongCounterNone", kCurrentValue, v.current);
  }
  return out.take();
}
