#include "mox/config/number_reading.h"

namespace {
bool isCSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
}  // namespace

uint32_t readNumber(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  uint32_t value = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - u'0');
  }
  return negative ? 0u - value : value;
}
