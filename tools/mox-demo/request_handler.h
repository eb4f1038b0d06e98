// One request of the demo's server: a unit of work of nested timed calls.
//
//   OrderService|placeOrder          every request
//     Inventory|reserve              waits 1-5 ms
//     Pricing|quote                  computes (CPU time), then
//       Database|select              waits 2-8 ms holding a database connection
//     Payment|charge                 waits 3-10 ms
//
// Request numbers decide what happens, so that the counts are known:
//   - number % 10 == 0: the request brings an application passport that asks
//     for a transaction trace;
//   - number % 17 == 0: the payment is declined and its call aborted
//     (MOX_terminateTiming): counted with its times, but not finished;
//   - number % 13 == 6, without a trace passport: the pricing gives up on its
//     query and ends its own call with the query's call still open. The
//     library closes the query's call on the way, and both end without their
//     times ("Finished with undefined state").
#pragma once

#include <atomic>
#include <random>

#include "connection_gauge.h"

// Resource names the demo reports.
inline constexpr char16_t kOpenRequests[] = u"Open Requests";
inline constexpr char16_t kDbConnections[] = u"DB Connections";
inline constexpr char16_t kAbandonedQueries[] = u"Abandoned Queries";  // a KPI of DB Connections

struct RequestCounts {
  std::atomic<long> requests{0};
  std::atomic<long> traced{0};
  std::atomic<long> abortedPayments{0};
  std::atomic<long> abandonedQueries{0};
};

bool bringsTracePassport(long number);
bool paymentIsDeclined(long number);
bool queryIsAbandoned(long number);

// Handles request number on the calling thread, which must not have a timed
// call open.
void handleRequest(long number, std::mt19937& rng, RequestCounts& counts, ConnectionGauge& connections);
