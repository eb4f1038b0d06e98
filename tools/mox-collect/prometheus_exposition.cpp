#include "prometheus_exposition.h"

#include <algorithm>

namespace moxcollect {

namespace {

prometheus::MetricFamily family(const char* name, const char* help, bool counter) {
  prometheus::MetricFamily out;
  out.name = name;
  out.help = help;
  out.type = counter ? prometheus::MetricType::Counter : prometheus::MetricType::Gauge;
  return out;
}

void setValue(prometheus::ClientMetric& metric, bool counter, double value) {
  if (counter) {
    metric.counter.value = value;
  } else {
    metric.gauge.value = value;
  }
}

prometheus::MetricFamily single(const char* name, const char* help, bool counter, double value) {
  prometheus::MetricFamily out = family(name, help, counter);
  out.metric.emplace_back();
  setValue(out.metric.back(), counter, value);
  return out;
}

bool holds(const SeriesStore::Item& item, const SeriesFamily& f) {
  return f.owner == item.owner && (item.present & (1u << f.series)) != 0;
}

// Each family's vector at its final size at once: no reallocation while it fills.
template <typename Families>
void reserveSeries(const SeriesStore::Snapshot& snapshot, const Families& families,
                   std::vector<prometheus::MetricFamily>& out) {
  std::vector<size_t> counts(families.size());
  for (const SeriesStore::Item& item : snapshot.items) {
    for (size_t i = 0; i < families.size(); ++i) counts[i] += holds(item, families[i]) ? 1 : 0;
  }
  for (size_t i = 0; i < families.size(); ++i) out[i].metric.reserve(counts[i]);
}

}  // namespace

std::vector<prometheus::MetricFamily> PrometheusExposition::Collect() const {
  const SeriesStore::Snapshot snapshot = store_.snapshot();
  const auto& families = seriesFamilies();
  std::vector<prometheus::MetricFamily> out;
  out.reserve(families.size() + 5);
  for (const SeriesFamily& f : families) out.push_back(family(f.name, f.help, f.counter));
  reserveSeries(snapshot, families, out);
  for (const SeriesStore::Item& item : snapshot.items) {
    for (size_t i = 0; i < families.size(); ++i) {
      const SeriesFamily& f = families[i];
      if (!holds(item, f)) continue;
      prometheus::ClientMetric metric;
      metric.label = *item.labels;
      setValue(metric, f.counter, item.values[f.series]);
      out[i].metric.push_back(std::move(metric));
    }
  }
  out.erase(std::remove_if(out.begin(), out.end(), [](const auto& f) { return f.metric.empty(); }), out.end());
  out.push_back(single("mox_collect_metric_lines_total", "Metric lines the collector received.", true,
                       static_cast<double>(counters_.lines.load())));
  out.push_back(single("mox_collect_malformed_lines_total",
                       "Metric lines skipped because their name or numbers could not be read.", true,
                       static_cast<double>(counters_.malformed.load())));
  out.push_back(single("mox_collect_refused_lines_total",
                       "Metric lines refused because they would have taken the series over the limit.", true,
                       static_cast<double>(counters_.refused.load())));
  out.push_back(single("mox_collect_expired_processes_total",
                       "Processes whose series were dropped after they stopped sending.", true,
                       static_cast<double>(counters_.expired.load())));
  out.push_back(single("mox_collect_series", "Series exposed now.", false, static_cast<double>(snapshot.series)));
  return out;
}

}  // namespace moxcollect
