// The C runtime's strerror keeps its text per thread; the texts it knows are
// copied once into a table so that the result stays valid.
#include <string.h>

#include <array>
#include <string>

#include "port/error_text.h"

namespace {

constexpr int kKnown = 150;

const std::array<std::string, kKnown>& texts() {
  static const std::array<std::string, kKnown> table = [] {
    std::array<std::string, kKnown> t;
    for (int i = 0; i < kKnown; ++i) t[static_cast<size_t>(i)] = strerror(i);
    return t;
  }();
  return table;
}

}  // namespace

const char* portErrorText(int error) {
  if (error < 0 || error >= kKnown) return nullptr;
  return texts()[static_cast<size_t>(error)].c_str();
}
