// The end of the process when a lock is released more often than taken.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "thr/thr_internal.h"

namespace {

// The layer sits below the text helpers, so the tag is converted here;
// an unpaired surrogate becomes "#".
std::string tagToUtf8(const char16_t* tag) {
  std::string out;
  for (const char16_t* p = tag; *p != 0; ++p) {
    uint32_t cp = *p;
    if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += '#';
      continue;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

void thrPanicUnlock(const char* fn, const char16_t* tag) {
  const std::string text = tag != nullptr ? tagToUtf8(tag) : std::string("not set");
  std::fprintf(stderr, "%s: PANIC: #unlock > #lock, tag: \"%s\"\n", fn, text.c_str());
  std::fflush(stderr);
  std::abort();
}
