#include "passport/epp_text.h"

#include <cstring>

#include "common/utf.h"

namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The UTF-8 form of text cut to at most maxBytes, never inside a character.
std::string utf8Prefix(std::u16string_view text, size_t maxBytes) {
  std::string utf8 = utf16ToUtf8Lenient(text);
  if (utf8.size() <= maxBytes) return utf8;
  size_t cut = maxBytes;
  while (cut > 0 && isContinuation(utf8[cut])) --cut;
  utf8.resize(cut);
  return utf8;
}

}  // namespace

void eppPutField(uint8_t* at, size_t width, std::u16string_view text) {
  const std::string utf8 = utf8Prefix(text, width);
  std::memcpy(at, utf8.data(), utf8.size());
  std::memset(at + utf8.size(), ' ', width - utf8.size());
}

bool eppGetField(const uint8_t* at, size_t width, std::u16string& out) {
  const void* zero = std::memchr(at, 0, width);
  const size_t bytes = zero == nullptr ? width : static_cast<size_t>(static_cast<const uint8_t*>(zero) - at);
  return utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(at), bytes), out);
}
