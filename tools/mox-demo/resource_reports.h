// The resource the demo reports itself once per interval, as a host's
// resource callback would (the library runs callbacks only every
// datasending_interval, at least 15 s: longer than the demo's intervals).
#pragma once

#include "connection_gauge.h"

class ConnectionReporter {
 public:
  // DB Connections with the gauge's reading since the previous report, and
  // its KPI Abandoned Queries: those abandoned since then (abandonedSoFar is
  // the total).
  void report(ConnectionGauge& gauge, long abandonedSoFar);

 private:
  long abandonedReported_ = 0;
};
