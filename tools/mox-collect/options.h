// The command line of mox-collect. parseOptions() never exits or prints: it
// returns the options or one error message (the program then exits with 2).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "collector.h"
#include "element_limits.h"
#include "endpoint.h"
#include "prometheus_sink.h"
#include "raw_file_sink.h"
#include "sink_writer.h"
#include "top_table.h"

namespace moxcollect {

struct Options {
  std::vector<Endpoint> listen;  // default: 127.0.0.1:59818
  bool json = false;             // default output when neither --out nor --top is given
  std::string outDir;
  bool top = false;
  std::optional<Endpoint> prometheus;  // --prometheus: serve /metrics there
  std::chrono::milliseconds interval{5000};
  size_t rows = 10;
  uint64_t count = 0;
  bool once = false;
  std::optional<std::chrono::milliseconds> timeout;
  std::string portFile;
  bool quiet = false;
  ElementLimits limits;
  // Limits, with the defaults of the classes that enforce them.
  std::chrono::milliseconds idleTimeout = CollectorSettings::kDefaultIdleTimeout;  // zero: never
  uint64_t maxConnections = CollectorSettings::kDefaultMaxConnections;
  uint64_t maxPerAddress = CollectorSettings::kDefaultMaxPerAddress;
  uint64_t memoryMib = CollectorSettings::kDefaultMemoryBudget >> 20;
  uint64_t queueMib = SinkWriter::kDefaultQueueBytes >> 20;
  uint64_t topKeys = TopTable::kDefaultMaxKeys;
  uint64_t maxFiles = RawFileSink::kDefaultMaxFiles;
  uint64_t maxOpenFiles = RawFileSink::kDefaultMaxOpenFiles;
  uint64_t prometheusExpiry = PrometheusSink::kDefaultExpiryIntervals;
  uint64_t prometheusMaxSeries = PrometheusSink::kDefaultMaxSeries;
  bool help = false;
  bool version = false;
};

struct ParsedOptions {
  Options options;
  std::string error;  // empty when the command line is good
};

ParsedOptions parseOptions(const std::vector<std::string>& args);

std::string helpText();

}  // namespace moxcollect
