// When a library process's series expire: after a number of its sending
// intervals without a line from it. The interval is estimated from the
// arrival of its bursts (the library sends each interval's lines at once):
// the time from the start of one burst to the start of the next. A burst that
// starts sooner than kMinInterval after the one before continues it (a burst
// cut by a pause of the network) and is not a new interval; the library's
// interval is at least 16 s. Until two bursts are seen, kDefaultInterval.
#pragma once

#include <chrono>

namespace moxcollect {

class ProcessActivity {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kDefaultInterval{61};
  static constexpr std::chrono::seconds kMinInterval{5};

  explicit ProcessActivity(Clock::time_point now) : lastArrival_(now) {}

  void burstStarted(Clock::time_point now);
  void arrived(Clock::time_point now) { lastArrival_ = now; }

  Clock::duration interval() const { return interval_; }
  Clock::time_point lastArrival() const { return lastArrival_; }
  // The time at which `intervals` intervals have passed without a line.
  Clock::time_point expiresAt(unsigned intervals) const { return lastArrival_ + interval_ * intervals; }

 private:
  Clock::time_point lastArrival_;
  Clock::time_point lastBurst_{};
  bool burstSeen_ = false;
  Clock::duration interval_ = kDefaultInterval;
};

}  // namespace moxcollect
