// The bounds on timing keys per interval and on open contexts: what is turned away, how it is
// counted and reported, and that memory stays flat past them.
#include "e2e/e2e_process.h"

namespace {

using e2e::kVersion;
using e2e::LibraryTest;
using e2e::Lines;
using e2e::residentKiB;
using e2e::timing;

// The three lines of a key at scope 0, times left out (see interval()).
Lines finished(const std::string& key, int calls) {
  const std::string n = std::to_string(calls);
  return {timing(key, "Finished Counter", n), timing(key, "Finished with undefined state", "0"),
          timing(key, "Avg. Elapsed Time(ms)", "N\" max=\"N\" min=\"N\" count=\"" + n)};
}
std::string counter(const std::string& resource, int value, int min) {
  return e2e::resource(resource, value, value, min, 1);
}
Lines join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Each component's method m is timed once.
void timeOnce(std::initializer_list<const char16_t*> components) {
  for (const char16_t* component : components) MOX_endTiming(MOX_startTiming(component, u"m", 1));
}

// The lines of the next interval, with the times (which vary) as N.
class BoundsTest : public LibraryTest {
 protected:
  Lines interval() { return e2e::withTimesAsN(nextInterval()); }
};

TEST_F(BoundsTest, CallsOfKeysPastTheBoundAreCountedUnderOneKeyAndReported) {
  initWith({{"max_timing_keys_per_interval", "3"}});
  timeOnce({u"A", u"B", u"C", u"D", u"E", u"D"});
  EXPECT_EQ(interval(), join({{kVersion},
                              finished("A|m", 1),
                              finished("B|m", 1),
                              finished("C|m", 1),
                              finished("Other Timing Keys", 3),
                              {counter("Empty Context Count", 0, 0), counter("Overflow Call Count", 3, 0),
                               counter("Zombie Context Count", 0, 0)}}));
  // An interval within the bound reads as it always has.
  timeOnce({u"E", u"A"});
  EXPECT_EQ(interval(), join({finished("A|m", 1), finished("E|m", 1)}));
  timeOnce({u"A", u"B", u"C", u"D"});
  EXPECT_EQ(interval(), join({finished("A|m", 1),
                              finished("B|m", 1),
                              finished("C|m", 1),
                              finished("Other Timing Keys", 1),
                              {counter("Overflow Call Count", 4, 3)}}));
  EXPECT_EQ(e2e::countOf(traceFile(), "reached max_timing_keys_per_interval (3 timing keys)"), 1);
}

std::u16string g_session;
const mox_char* currentSession() { return g_session.c_str(); }
uint32_t startIn(const std::u16string& session) {
  g_session = session;
  return MOX_startTimingEx(currentSession, u"Svc", u"run", 1);
}
void endIn(const std::u16string& session, uint32_t id) {
  g_session = session;
  MOX_endTimingEx(currentSession, id);
}

TEST_F(BoundsTest, ContextsPastTheBoundAreRefusedAndReported) {
  initWith({{"max_open_contexts", "2"}});
  const uint32_t first = startIn(u"s1");
  EXPECT_NE(first, 0u);
  EXPECT_NE(startIn(u"s2"), 0u);
  EXPECT_EQ(startIn(u"s3"), 0u);
  g_session = u"s4";
  MOX_initContextEx(currentSession, u"");
  EXPECT_EQ(MOX_startTiming(u"Svc", u"run", 1), 0u) << "the thread's own context is refused as well";
  EXPECT_EQ(interval(), (Lines{kVersion, counter("Empty Context Count", 0, 0), counter("Refused Context Count", 3, 0),
                               counter("Zombie Context Count", 0, 0)}));
  endIn(u"s1", first);  // its place is free again
  EXPECT_NE(startIn(u"s3"), 0u);
  EXPECT_EQ(interval(), finished("Svc|run", 1));
  EXPECT_EQ(e2e::countOf(traceFile(), "max_open_contexts reached (2 contexts)"), 1);
}

// From the bound on, 300,000 more keys and sessions would cost some 120 and 280 MiB without it.
TEST_F(BoundsTest, MemoryStaysFlatPastBothBounds) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "resident size means nothing under a sanitizer's allocator; the unit tests cover the bounds";
#endif
  constexpr long kBound = 10000, kWarmUp = 2 * kBound, kMore = 300000;
  initWith({{"max_timing_keys_per_interval", std::to_string(kBound)}, {"max_open_contexts", std::to_string(kBound)}});
  std::u16string name;
  const auto numbered = [&name](const char16_t* prefix, long i) {
    name.assign(prefix).append(e2e::widen(std::to_string(i)));
    return name.c_str();
  };

  long before = 0;
  for (long i = 0; i < kWarmUp + kMore; ++i) {
    if (i == kWarmUp) before = residentKiB();
    MOX_endTiming(MOX_startTiming(numbered(u"Key", i), u"m", 1));
  }
  const long afterKeys = residentKiB();
  MOX_outputMetricData();
  EXPECT_EQ(e2e::sumOf(metricFile(), "Other Timing Keys"), kWarmUp + kMore - kBound);
  EXPECT_LT(afterKeys - before, 8 * 1024)
      << before << " KiB at the bound, " << afterKeys << " KiB after " << kMore << " more keys";

  long accepted = 0;
  for (long i = 0; i < kWarmUp + kMore; ++i) {
    if (i == kWarmUp) before = residentKiB();
    g_session = numbered(u"session-", i);
    accepted += MOX_startTimingEx(currentSession, u"Svc", u"open", 1) != 0;
  }
  const long afterSessions = residentKiB();
  EXPECT_EQ(accepted, kBound);
  EXPECT_LT(afterSessions - before, 8 * 1024)
      << before << " KiB at the bound, " << afterSessions << " KiB after " << kMore << " more sessions";
  MOX_outputMetricData();
  EXPECT_EQ(e2e::valuesOf(metricFile(), "|Refused Context Count:Current Value"),
            std::vector<long>{kWarmUp + kMore - kBound});
}

}  // namespace
