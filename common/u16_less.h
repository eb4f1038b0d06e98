// Ordering of UTF-16 strings by code units, for the library's ordered maps.
// Transparent, so look-ups by std::u16string_view need no key copy; the
// comparison is inlined, since map look-ups sit on the timing path.
#pragma once

#include <algorithm>
#include <string_view>

struct U16Less {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) return a[i] < b[i];
    }
    return a.size() < b.size();
  }
};
