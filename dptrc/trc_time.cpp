#include "dptrc/trc_time.h"

#include <time.h>

#include <atomic>

#include "dptrc/dptrc.h"

namespace {

std::atomic<TrcTimeSource> timeSource{nullptr};

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void appendAscii(std::u16string& out, const char* text) {
  while (*text != '\0') out.push_back(static_cast<char16_t>(*text++));
}

// value right-aligned in width characters, padded with pad.
void appendPadded(std::u16string& out, long value, int width, char16_t pad) {
  char16_t digits[20];
  int n = 0;
  unsigned long rest = value < 0 ? 0 - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (value < 0) digits[n++] = u'-';
  for (int i = n; i < width; ++i) out.push_back(pad);
  while (n > 0) out.push_back(digits[--n]);
}

bool localNow(tm& local, long& millis) {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  millis = now.tv_nsec / 1000000;
  return localtime_r(&now.tv_sec, &local) != nullptr;
}

std::u16string formatLocal(bool withMillis) {
  tm local{};
  long millis = 0;
  if (!localNow(local, millis)) return u"ERROR_DATE";
  std::u16string out;
  appendPadded(out, local.tm_year + 1900L, 4, u' ');
  out.push_back(u'-');
  appendPadded(out, local.tm_mon + 1, 2, u'0');
  out.push_back(u'-');
  appendPadded(out, local.tm_mday, 2, u'0');
  out.push_back(u' ');
  appendPadded(out, local.tm_hour, 2, u'0');
  out.push_back(u':');
  appendPadded(out, local.tm_min, 2, u'0');
  out.push_back(u':');
  appendPadded(out, local.tm_sec, 2, u'0');
  if (withMillis) {
    out.push_back(u'.');
    appendPadded(out, millis, 3, u'0');
  }
  return out;
}

}  // namespace

void TrcSetTimeSource(TrcTimeSource source) { timeSource.store(source, std::memory_order_relaxed); }

time_t trcNowSeconds() {
  const TrcTimeSource source = timeSource.load(std::memory_order_relaxed);
  return source != nullptr ? source() : time(nullptr);
}

bool trcAppendAscTime(time_t seconds, std::u16string& out) {
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return false;
  const long year = local.tm_year + 1900L;
  if (year < 1000 || year > 9999 || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
    return false;
  }
  appendAscii(out, kWeekdays[local.tm_wday]);
  out.push_back(u' ');
  appendAscii(out, kMonths[local.tm_mon]);
  out.push_back(u' ');
  appendPadded(out, local.tm_mday, 2, u' ');
  out.push_back(u' ');
  appendPadded(out, local.tm_hour, 2, u'0');
  out.push_back(u':');
  appendPadded(out, local.tm_min, 2, u'0');
  out.push_back(u':');
  appendPadded(out, local.tm_sec, 2, u'0');
  out.push_back(u' ');
  appendPadded(out, year, 4, u'0');
  return true;
}

std::u16string FormatCurrentTime() { return formatLocal(false); }

std::u16string FormatCurrentTimeMs() { return formatLocal(true); }
