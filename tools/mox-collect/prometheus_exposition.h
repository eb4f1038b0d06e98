// What a scrape of /metrics gets: the applied series of the store, and the
// sink's own counters. Collect() copies the store under its lock and builds
// the families afterwards, on the scraping thread, so a scrape of many series
// keeps the sink writer waiting only for the copy.
#pragma once

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "series_store.h"

namespace moxcollect {

// The sink's own counters; written by the sink writer thread, read by scrapes.
struct PrometheusCounters {
  std::atomic<uint64_t> lines{0};      // metric lines received
  std::atomic<uint64_t> malformed{0};  // lines whose name or numbers do not parse
  std::atomic<uint64_t> refused{0};    // lines refused by the series limit
  std::atomic<uint64_t> expired{0};    // processes whose series expired
};

class PrometheusExposition : public prometheus::Collectable {
 public:
  PrometheusExposition(const SeriesStore& store, const PrometheusCounters& counters)
      : store_(store), counters_(counters) {}

  std::vector<prometheus::MetricFamily> Collect() const override;

 private:
  const SeriesStore& store_;
  const PrometheusCounters& counters_;
};

}  // namespace moxcollect
