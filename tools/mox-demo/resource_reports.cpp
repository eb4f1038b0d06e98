#include "resource_reports.h"

#include "mox.h"
#include "request_handler.h"

void ConnectionReporter::report(ConnectionGauge& gauge, long abandonedSoFar) {
  const ConnectionGauge::Reading r = gauge.read();
  MOX_reportResource(kDbConnections, r.inUse, r.high, r.low, r.taken, 0);
  MOX_reportResourceKPI(kDbConnections, kAbandonedQueries, abandonedSoFar - abandonedReported_);
  abandonedReported_ = abandonedSoFar;
}
