// Equality of UTF-16 strings, for the timing path's checks that a key is the
// one it remembers (mostly equal, a dozen to a few dozen code units): eight
// bytes at a time, inline, where std::u16string's ordering compare walks the
// code units one by one and memcmp is a call through the loader's table.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

inline bool u16Equal(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  const char16_t* x = a.data();
  const char16_t* y = b.data();
  size_t left = a.size();
  for (; left >= 4; left -= 4, x += 4, y += 4) {
    uint64_t wordX = 0, wordY = 0;
    std::memcpy(&wordX, x, sizeof wordX);
    std::memcpy(&wordY, y, sizeof wordY);
    if (wordX != wordY) return false;
  }
  for (; left > 0; --left, ++x, ++y) {
    if (*x != *y) return false;
  }
  return true;
}
