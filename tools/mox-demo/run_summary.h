// What the demo prints at the end: what it did, what the metric data and
// traces should show for it, and where they went.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "delivery_check.h"
#include "library_start.h"

struct RunFacts {
  int threads = 0;
  int seconds = 0;
  long requests = 0;
  long traced = 0;
  long abortedPayments = 0;
  long abandonedQueries = 0;
  long exportMs = 0;  // Reports|export as the demo timed it
  bool defaultStart = false;
  LibrarySettings settings;
  std::string traceFile;             // "" when it was not found
  std::string metricFile;            // file output only; "" when it was not found
  std::optional<Delivery> delivery;  // streaming with a trace file only
};

void printSummary(const RunFacts& facts, std::FILE* out);
