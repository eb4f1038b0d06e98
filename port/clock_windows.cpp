// Clocks on Windows. FILETIME and thread times count 100 ns units; the
// system time's count starts in 1601.
#include <windows.h>

#include <cstdint>

#include "port/clock.h"

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;
constexpr int64_t kUnitsFrom1601To1970 = 116444736000000000LL;

int64_t units(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

void fromUnits(int64_t n, timespec* now) {
  now->tv_sec = static_cast<time_t>(n / kUnitsPerSecond);
  now->tv_nsec = static_cast<long>(n % kUnitsPerSecond * 100);
}

int64_t counterFrequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) ? static_cast<int64_t>(f.QuadPart) : 0;
  }();
  return frequency;
}

}  // namespace

bool portReadWallClock(timespec* now) {
  FILETIME t;
  GetSystemTimePreciseAsFileTime(&t);
  fromUnits(units(t) - kUnitsFrom1601To1970, now);
  return true;
}

bool portReadMonotonicClock(timespec* now) {
  const int64_t frequency = counterFrequency();
  LARGE_INTEGER count;
  if (frequency <= 0 || !QueryPerformanceCounter(&count)) return false;
  const int64_t c = static_cast<int64_t>(count.QuadPart);
  now->tv_sec = static_cast<time_t>(c / frequency);
  now->tv_nsec = static_cast<long>((c % frequency) * 1000000000 / frequency);
  return true;
}

bool portReadCoarseMonotonicClock(timespec* now) {
  const ULONGLONG ms = GetTickCount64();
  now->tv_sec = static_cast<time_t>(ms / 1000);
  now->tv_nsec = static_cast<long>(ms % 1000 * 1000000);
  return true;
}

bool portReadThreadCpuClock(timespec* now) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return false;
  fromUnits(units(kernel) + units(user), now);
  return true;
}
