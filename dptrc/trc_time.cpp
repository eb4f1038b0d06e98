#include "dptrc/trc_time.h"

#include <time.h>

#include <atomic>

#include "common/number_text.h"
#include "dptrc/dptrc.h"
#include "port/local_time.h"

namespace {

std::atomic<TrcTimeSource> timeSource{nullptr};

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void appendAscii(std::u16string& out, const char* text) {
  while (*text != '\0') out.push_back(static_cast<char16_t>(*text++));
}

// "hh:mm:ss"
void appendClockTime(std::u16string& out, const tm& local) {
  appendPaddedDecimal(out, local.tm_hour, 2, u'0');
  out.push_back(u':');
  appendPaddedDecimal(out, local.tm_min, 2, u'0');
  out.push_back(u':');
  appendPaddedDecimal(out, local.tm_sec, 2, u'0');
}

}  // namespace

void trcSetTimeSource(TrcTimeSource source) { timeSource.store(source, std::memory_order_relaxed); }

time_t trcNowSeconds() {
  const TrcTimeSource source = timeSource.load(std::memory_order_relaxed);
  return source != nullptr ? source() : time(nullptr);
}

bool trcAppendAscTime(time_t seconds, std::u16string& out) {
  tm local{};
  if (!portLocalTime(seconds, &local)) return false;
  const long year = local.tm_year + 1900L;
  if (year < 1000 || year > 9999 || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
    return false;
  }
  appendAscii(out, kWeekdays[local.tm_wday]);
  out.push_back(u' ');
  appendAscii(out, kMonths[local.tm_mon]);
  out.push_back(u' ');
  appendPaddedDecimal(out, local.tm_mday, 2, u' ');
  out.push_back(u' ');
  appendClockTime(out, local);
  out.push_back(u' ');
  appendPaddedDecimal(out, year, 4, u'0');
  return true;
}

std::u16string trcFormatLocalTime(int64_t wallMs, bool withMs) {
  tm local{};
  const time_t seconds = static_cast<time_t>(wallMs / 1000);
  if (wallMs < 0 || !portLocalTime(seconds, &local)) return u"ERROR_DATE";
  std::u16string out;
  out.reserve(24);
  appendPaddedDecimal(out, local.tm_year + 1900L, 4, u' ');
  out.push_back(u'-');
  appendPaddedDecimal(out, local.tm_mon + 1, 2, u'0');
  out.push_back(u'-');
  appendPaddedDecimal(out, local.tm_mday, 2, u'0');
  out.push_back(u' ');
  appendClockTime(out, local);
  if (withMs) {
    out.push_back(u'.');
    appendPaddedDecimal(out, static_cast<long>(wallMs % 1000), 3, u'0');
  }
  return out;
}
