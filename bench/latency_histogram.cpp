#include "latency_histogram.h"

#include <algorithm>

// Below 128 one bucket per nanosecond; above, the top seven bits of the value
// choose the bucket within its power of two.
int LatencyHistogram::bucketOf(uint64_t ns) {
  if (ns < kLinear) return static_cast<int>(ns);
  const int highest = 63 - __builtin_clzll(ns);
  const int shift = highest - 6;
  return kLinear + (shift - 1) * kSubBuckets + static_cast<int>((ns >> shift) - kSubBuckets);
}

uint64_t LatencyHistogram::lowerBound(int bucket) {
  if (bucket < kLinear) return static_cast<uint64_t>(bucket);
  const int shift = (bucket - kLinear) / kSubBuckets + 1;
  return static_cast<uint64_t>((bucket - kLinear) % kSubBuckets + kSubBuckets) << shift;
}

void LatencyHistogram::record(uint64_t ns) {
  ++counts_[static_cast<size_t>(bucketOf(ns))];
  ++count_;
  max_ = std::max(max_, ns);
}

uint64_t LatencyHistogram::countAbove(uint64_t ns) const {
  uint64_t above = 0;
  for (int bucket = bucketOf(ns) + 1; bucket < kBuckets; ++bucket) above += counts_[static_cast<size_t>(bucket)];
  return above;
}

uint64_t LatencyHistogram::percentile(double fraction) const {
  const auto rank = static_cast<uint64_t>(fraction * static_cast<double>(count_));
  uint64_t seen = 0;
  for (int bucket = 0; bucket < kBuckets; ++bucket) {
    seen += counts_[static_cast<size_t>(bucket)];
    if (seen > rank) return lowerBound(bucket);
  }
  return max_;
}
