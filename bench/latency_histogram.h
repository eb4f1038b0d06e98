// Latencies in nanoseconds, counted in log-linear buckets (64 per power of
// two above 128 ns, so a percentile is within 1.6 % of the true value), with
// the exact maximum. Recording is one increment and allocates nothing.
#pragma once

#include <array>
#include <cstdint>

class LatencyHistogram {
 public:
  void record(uint64_t ns);
  uint64_t count() const { return count_; }
  uint64_t max() const { return max_; }
  uint64_t countAbove(uint64_t ns) const;
  // The lower bound of the bucket holding the given fraction of the samples.
  uint64_t percentile(double fraction) const;

 private:
  static constexpr int kLinear = 128;
  static constexpr int kSubBuckets = 64;
  static constexpr int kBuckets = kLinear + 57 * kSubBuckets;
  static int bucketOf(uint64_t ns);
  static uint64_t lowerBound(int bucket);

  std::array<uint64_t, kBuckets> counts_{};
  uint64_t count_ = 0;
  uint64_t max_ = 0;
};
