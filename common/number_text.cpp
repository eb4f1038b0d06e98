#include "common/number_text.h"

namespace {

// Digits of value, most significant first, after padding up to width.
void appendUnsigned(std::u16string& out, uint64_t value, int width = 0, char16_t pad = u'0') {
  char16_t digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) out.push_back(pad);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

void appendDecimal(std::u16string& out, int64_t value) {
  if (value < 0) {
    out.push_back(u'-');
    // Negate in unsigned arithmetic so that INT64_MIN does not overflow.
    appendUnsigned(out, 0 - static_cast<uint64_t>(value));
  } else {
    appendUnsigned(out, static_cast<uint64_t>(value));
  }
}

void appendDecimal(std::u16string& out, uint64_t value) { appendUnsigned(out, value); }

std::u16string decimalText(int64_t value) {
  std::u16string out;
  appendDecimal(out, value);
  return out;
}

void appendPaddedDecimal(std::u16string& out, int64_t value, int width, char16_t pad) {
  if (value < 0) {
    out.push_back(u'-');
    appendUnsigned(out, 0 - static_cast<uint64_t>(value), width - 1, pad);
  } else {
    appendUnsigned(out, static_cast<uint64_t>(value), width, pad);
  }
}
