// Threads measuring and deriving at once: every derived time comes from a
// whole measurement, never from a measurement time without its offset.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/wall_from_monotonic.h"

namespace {

constexpr int64_t kMs = 1000000;
// The fake wall clock runs a fixed distance ahead of the monotonic time.
constexpr int64_t kWallAheadNs = 1700000000000 * kMs;

TEST(WallFromMonotonicTest, ConcurrentRefreshesNeverPublishAHalfMeasurement) {
  WallFromMonotonic wall(kMs);  // a new measurement every millisecond of fake time
  std::atomic<int64_t> monotonic{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        const int64_t mono = monotonic.fetch_add(50000) + 50000;  // 50 us a step
        const int64_t ms = wall.wallMsAt(mono, [mono](int64_t& ns) {
          ns = mono + kWallAheadNs;
          return true;
        });
        // Measured at most a millisecond before by some thread, so at most a
        // millisecond apart from the exact value; a lost offset is 1970.
        const int64_t exact = (mono + kWallAheadNs) / kMs;
        if (ms < exact - 1 || ms > exact + 1) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
