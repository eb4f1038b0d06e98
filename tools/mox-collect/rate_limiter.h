// Requests per client address for the live page: a bucket of `burst`
// requests per address, refilled at `perSecond`. At most maxAddresses buckets
// are kept; when a new address finds them all taken, the full ones (clients
// at rest) are let go, and if none is full, all are. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace moxcollect {

class RateLimiter {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  static constexpr double kDefaultPerSecond = 20;
  static constexpr double kDefaultBurst = 60;
  static constexpr size_t kDefaultMaxAddresses = 1024;

  RateLimiter(double perSecond = kDefaultPerSecond, double burst = kDefaultBurst,
              size_t maxAddresses = kDefaultMaxAddresses)
      : perSecond_(perSecond), burst_(burst), maxAddresses_(maxAddresses) {}

  // True when the address may make one more request at `now` (and counts it).
  bool allow(const std::string& address, TimePoint now);

 private:
  struct Bucket {
    double tokens;
    TimePoint refilled;
  };

  void makeRoom(TimePoint now);

  double perSecond_;
  double burst_;
  size_t maxAddresses_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace moxcollect
