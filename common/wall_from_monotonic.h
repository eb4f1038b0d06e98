// The wall clock derived from the monotonic clock plus an offset.
//
// The first call of every unit of work needs its tick and its wall-clock
// start time; reading both clocks each time makes the wall clock the dearest
// part of that start. The offset (wall - monotonic) is measured again once
// refreshNs of monotonic time have passed since its last measurement, by
// whichever caller comes first; in between a start time costs an addition.
//
// Clock steps: a step of the wall clock (an NTP step, an operator setting
// the date) shows in derived times within refreshNs; a slew (at most 500 ppm)
// moves them by at most refreshNs * 0.0005 meanwhile (50 us at 100 ms), so
// they match a direct reading to the millisecond but at the edge of one.
#pragma once

#include <atomic>
#include <cstdint>

class WallFromMonotonic {
 public:
  explicit constexpr WallFromMonotonic(int64_t refreshNs) : refreshNs_(refreshNs) {}
  WallFromMonotonic(const WallFromMonotonic&) = delete;
  WallFromMonotonic& operator=(const WallFromMonotonic&) = delete;

  // Wall-clock milliseconds since 1970 at monotonic time monoNs (0 or more).
  // readWallNs(int64_t& ns) reads the wall clock when the offset is due and
  // returns false when it cannot: -1 then.
  template <typename ReadWallNs>
  int64_t wallMsAt(int64_t monoNs, ReadWallNs readWallNs) {
    // Acquire: the offset stored before this measurement time is seen with it.
    const int64_t measuredAt = measuredAtNs_.load(std::memory_order_acquire);
    if (measuredAt >= 0 && monoNs >= measuredAt && monoNs - measuredAt < refreshNs_) {
      return msOf(monoNs + offsetNs_.load(std::memory_order_relaxed));
    }
    int64_t wallNs = 0;
    if (!readWallNs(wallNs)) return -1;
    offsetNs_.store(wallNs - monoNs, std::memory_order_relaxed);
    measuredAtNs_.store(monoNs, std::memory_order_release);
    return msOf(wallNs);
  }

 private:
  // Truncated as tv_sec * 1000 + tv_nsec / 1000000 is.
  static int64_t msOf(int64_t ns) { return ns >= 0 ? ns / 1000000 : -((-ns + 999999) / 1000000); }

  const int64_t refreshNs_;
  std::atomic<int64_t> offsetNs_{0};
  std::atomic<int64_t> measuredAtNs_{-1};  // monotonic ns; -1: never measured
};
