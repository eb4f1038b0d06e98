#include "mox/context/context_hash.h"

uint32_t contextKeyHash(std::u16string_view key) {
  if (key.empty()) return 0;
  constexpr uint32_t kMultiplier = 0x01000113u;
  uint32_t h = key.back();
  for (char16_t c : key) {
    if (c == 0) break;
    h = (h * kMultiplier) ^ c;
  }
  return h & 0x7FFFFFFFu;
}
