#include "mox/context/passport_hex.h"

#include <vector>

#include "dptrc/dptrc.h"

namespace {

constexpr std::u16string_view kMarker = u"2A54482A";  // "*TH*"
constexpr char16_t kDigits[] = u"0123456789ABCDEF";

int nibble(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool framedByMarkers(std::u16string_view text) {
  if (text.size() < kMarker.size() || text.compare(0, kMarker.size(), kMarker) != 0) return false;
  return text.rfind(kMarker) == text.size() - kMarker.size();
}

}  // namespace

void HexToBytes(std::u16string_view text, uint8_t* buffer, size_t count) {
  size_t done = 0;
  for (; done < count && 2 * done + 1 < text.size(); ++done) {
    const int high = nibble(text[2 * done]);
    const int low = nibble(text[2 * done + 1]);
    if (high < 0 || low < 0) break;
    buffer[done] = static_cast<uint8_t>(high << 4 | low);
  }
  for (; done < count; ++done) buffer[done] = 0;
}

std::u16string BytesToHex(const uint8_t* bytes, size_t count) {
  std::u16string text;
  text.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

OwnedPassport ParseE2EPassport(std::u16string_view text) {
  if (!framedByMarkers(text)) return nullptr;
  std::vector<uint8_t> stream(text.size() / 2);
  HexToBytes(text, stream.data(), stream.size());
  EppHandle passport = nullptr;
  if (eppDeserialize(stream.data(), stream.size(), &passport) != EPP_OK) {
    MOX_TRC_HOST_ERROR("Bad VEL passport format, deserialization failed!\n");
    return nullptr;
  }
  return OwnedPassport(passport);
}
