// Shared by the tests of the Prometheus sink: its lines fed in as the
// collector builds them, and what a scrape gets, read back as samples.
#pragma once

#include <chrono>
#include <map>
#include <sstream>
#include <string>

#include "collector_support.h"
#include "prometheus_sink.h"

namespace collecttest {

// The samples of an exposition, "name{labels}" -> value; comments left out.
inline std::map<std::string, double> samplesOf(const std::string& exposition) {
  std::map<std::string, double> samples;
  std::istringstream in(exposition);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return samples;
}

// The samples whose name starts with prefix.
inline std::map<std::string, double> samplesOf(const std::string& exposition, const std::string& prefix) {
  std::map<std::string, double> out;
  for (const auto& [name, value] : samplesOf(exposition)) {
    if (name.rfind(prefix, 0) == 0) out[name] = value;
  }
  return out;
}

// A sink fed with the stream's records at a time of the test's choosing.
class FedSink {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit FedSink(unsigned expiry = moxcollect::PrometheusSink::kDefaultExpiryIntervals,
                   size_t maxSeries = moxcollect::PrometheusSink::kDefaultMaxSeries)
      : sink(expiry, maxSeries) {
    sink.tick(now);
  }

  // Writes the stream's records as they arrive at the current time, from `connection`.
  void send(const std::string& stream, uint64_t connection = 1) {
    for (moxcollect::Record& record : recordsOf(stream)) {
      record.connection = connection;
      sink.write(record);
    }
  }
  // Moves the clock on and ticks the sink.
  void pass(std::chrono::milliseconds time) {
    now += time;
    sink.tick(now);
  }
  // Ends the interval: the process has been quiet long enough.
  void settle() { pass(moxcollect::PrometheusSink::kQuietTime); }
  std::map<std::string, double> samples(const std::string& prefix = "mox_") const {
    return samplesOf(sink.exposition(), prefix);
  }

  TimePoint now{std::chrono::hours(1)};
  moxcollect::PrometheusSink sink;
};

}  // namespace collecttest
