#include "mox/context/passport_trace_flag.h"

#include <limits>

#include "dptrc/dptrc.h"

namespace {

struct LevelBounds {
  uint16_t level1, level2, level3;  // the lowest flag of each level
};
constexpr LevelBounds kVersion3{1, 2697, 3487};
constexpr LevelBounds kOthers{9, 925, 1535};

bool isBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// The decimal number at the start of text, as the C library reads it; out of
// the 32-bit range it stays at the limit.
int32_t leadingDecimal(std::u16string_view text) {
  size_t at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) negative = text[at++] == u'-';
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  int64_t value = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    value = value * 10 + (text[at] - u'0');
    if (value > kLimit) value = kLimit;  // the rest only keeps it there
  }
  if (negative) return static_cast<int32_t>(-value);
  return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

}  // namespace

uint16_t TraceLevelFromFlag(uint16_t flag, uint8_t version) {
  const LevelBounds& bounds = version == 3 ? kVersion3 : kOthers;
  if (flag >= bounds.level3) return 3;
  if (flag >= bounds.level2) return 2;
  if (flag >= bounds.level1) return 1;
  return 0;
}

uint16_t e2eTraceFlag(EppHandle passport) {
  uint8_t bytes[2] = {0, 0};
  if (eppGetTraceFlag(passport, bytes) != EPP_OK) {
    MOX_TRC_HOST_ERROR("Epp error encountered when extract the traceFlag, use default flag value!\n");
    return 0;
  }
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint16_t applicationTraceFlag(std::u16string_view passport) {
  const size_t star = passport.find(u'*');
  if (star == std::u16string_view::npos) {
    MOX_TRC_HOST_ERROR(
        "Application passport separater is missing when extract the traceFlag, use default flag value!\n");
    return 0;
  }
  return static_cast<uint16_t>(leadingDecimal(passport.substr(star + 1)));
}

uint16_t traceFlagForLevel(int32_t level) {
  switch (level) {
    case 2: return kVersion3.level2;
    case 3: return kVersion3.level3;
    default: return 0;
  }
}

void traceFlagBytes(uint16_t flag, uint8_t bytes[2]) {
  bytes[0] = static_cast<uint8_t>(flag & 0xFF);
  bytes[1] = static_cast<uint8_t>(flag >> 8);
}
