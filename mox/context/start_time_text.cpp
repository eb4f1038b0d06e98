#include "mox/context/start_time_text.h"

#include <time.h>

#include "common/utf.h"

namespace {

void appendPadded(std::u16string& out, long value, int width, char16_t pad = u'0') {
  char digits[24];
  int n = 0;
  unsigned long v = value < 0 ? 0 : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 20);
  for (int i = n; i < width; ++i) out.push_back(pad);
  while (n > 0) out.push_back(static_cast<char16_t>(digits[--n]));
}

}  // namespace

std::u16string formatLocalTime(int64_t wallMs, bool withMs) {
  struct tm local;
  time_t seconds = static_cast<time_t>(wallMs / 1000);
  if (wallMs < 0 || localtime_r(&seconds, &local) == nullptr) return asciiToUtf16("ERROR_DATE");
  std::u16string text;
  text.reserve(24);
  appendPadded(text, local.tm_year + 1900L, 4, u' ');  // "%4d"
  text.push_back(u'-');
  appendPadded(text, local.tm_mon + 1L, 2);
  text.push_back(u'-');
  appendPadded(text, local.tm_mday, 2);
  text.push_back(u' ');
  appendPadded(text, local.tm_hour, 2);
  text.push_back(u':');
  appendPadded(text, local.tm_min, 2);
  text.push_back(u':');
  appendPadded(text, local.tm_sec, 2);
  if (withMs) {
    text.push_back(u'.');
    appendPadded(text, static_cast<long>(wallMs % 1000), 3);
  }
  return text;
}
