#include "rate_limiter.h"

#include <algorithm>

namespace moxcollect {

namespace {

double refilled(double tokens, std::chrono::steady_clock::duration elapsed, double perSecond, double burst) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  return std::min(burst, tokens + std::max(0.0, seconds) * perSecond);
}

}  // namespace

bool RateLimiter::allow(const std::string& address, TimePoint now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = buckets_.find(address);
  if (found == buckets_.end()) {
    if (buckets_.size() >= maxAddresses_) makeRoom(now);
    found = buckets_.emplace(address, Bucket{burst_, now}).first;
  }
  Bucket& bucket = found->second;
  bucket.tokens = refilled(bucket.tokens, now - bucket.refilled, perSecond_, burst_);
  bucket.refilled = now;
  if (bucket.tokens < 1) return false;
  bucket.tokens -= 1;
  return true;
}

void RateLimiter::makeRoom(TimePoint now) {
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    const bool full = refilled(it->second.tokens, now - it->second.refilled, perSecond_, burst_) >= burst_;
    it = full ? buckets_.erase(it) : std::next(it);
  }
  if (buckets_.size() >= maxAddresses_) buckets_.clear();
}

}  // namespace moxcollect
