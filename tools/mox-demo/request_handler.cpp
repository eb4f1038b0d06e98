#include "request_handler.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "mox.h"

namespace {

std::u16string decimal(long number) {
  const std::string text = std::to_string(number);
  return std::u16string(text.begin(), text.end());
}

void waitSome(std::mt19937& rng, int minMs, int maxMs) {
  std::uniform_int_distribution<int> ms(minMs, maxMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms(rng)));
}

// Work that shows as CPU time, unlike the waits.
void computePrice(long number) {
  volatile uint64_t price = static_cast<uint64_t>(number);
  for (int i = 0; i < 200000; ++i) price = price * 2862933555777941757ull + 3037000493ull;
}

void reserveStock(std::mt19937& rng) {
  const uint32_t call = MOX_startTiming(u"Inventory", u"reserve", 1);
  waitSome(rng, 1, 5);
  MOX_endTiming(call);
}

void quotePrice(long number, std::mt19937& rng, RequestCounts& counts, ConnectionGauge& connections) {
  const uint32_t quote = MOX_startTiming(u"Pricing", u"quote", 1);
  computePrice(number);
  connections.take();
  const uint32_t query = MOX_startTiming(u"Database", u"select", 1);
  MOX_appendParameterInfo(query, u"sql", u"SELECT price FROM items WHERE id = ?");
  waitSome(rng, 2, 8);
  const bool abandoned = queryIsAbandoned(number);
  if (!abandoned) MOX_endTiming(query);
  connections.giveBack();
  if (abandoned) counts.abandonedQueries++;
  MOX_endTiming(quote);  // when abandoned, this also closes the query's call
}

void chargePayment(long number, std::mt19937& rng, RequestCounts& counts) {
  const uint32_t charge = MOX_startTiming(u"Payment", u"charge", 1);
  if (!paymentIsDeclined(number)) {
    waitSome(rng, 3, 10);
    MOX_endTiming(charge);
    return;
  }
  waitSome(rng, 1, 4);
  MOX_appendExceptionInfo(charge, u"card declined");
  MOX_terminateTiming(charge);
  counts.abortedPayments++;
}

}  // namespace

bool bringsTracePassport(long number) { return number % 10 == 0; }
bool paymentIsDeclined(long number) { return number % 17 == 0; }
// Only without a trace passport: in a traced unit of work the library keeps
// the times of a call ended while inner calls were open.
bool queryIsAbandoned(long number) { return number % 13 == 6 && !bringsTracePassport(number); }

void handleRequest(long number, std::mt19937& rng, RequestCounts& counts, ConnectionGauge& connections) {
  MOX_increaseResource(kOpenRequests, 1);
  if (bringsTracePassport(number)) {
    // An application passport "GUID*flag"; flag 1000 asks for a trace.
    const std::u16string passport = u"DEMO" + decimal(number) + u"*1000";
    MOX_initContext(passport.c_str());
    counts.traced++;
  }
  const uint32_t order = MOX_startTiming(u"OrderService", u"placeOrder", 1);
  MOX_appendUserID(u"demo-user");
  reserveStock(rng);
  quotePrice(number, rng, counts, connections);
  chargePayment(number, rng, counts);
  MOX_appendReturnInfo(order, (u"order " + decimal(number)).c_str());
  MOX_endTiming(order);
  MOX_decreaseResource(kOpenRequests, 1);
  counts.requests++;
}
