#include "common/utf.h"

#include <cstdint>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void appendCodePoint(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendCodePoint(uint32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

// The length of the run of ASCII units at the start of in. Whole blocks are
// tested with one OR over their units, which the compiler does in vector
// registers; the tail unit by unit.
size_t asciiRunLength(std::u16string_view in) {
  constexpr size_t kBlock = 16;
  size_t n = 0;
  for (; in.size() - n >= kBlock; n += kBlock) {
    unsigned any = 0;
    for (size_t k = 0; k < kBlock; ++k) any |= in[n + k];
    if (any >= 0x80) break;
  }
  while (n < in.size() && in[n] < 0x80) ++n;
  return n;
}

// Appends a run of ASCII units in one step: the texts converted here (trace
// and metric lines) are mostly ASCII, and a push_back per byte costs a size
// check and a terminator write each.
void appendAscii(std::u16string_view run, std::string& out) {
  const size_t at = out.size();
  out.resize(at + run.size());
  char* to = &out[at];
  for (size_t k = 0; k < run.size(); ++k) to[k] = static_cast<char>(run[k]);
}

// Converts UTF-16 to UTF-8; an unpaired surrogate is written as `unpaired`
// (when it is not NUL) or stops the conversion with false.
bool convertUtf16(std::u16string_view in, std::string& out, char unpaired) {
  for (size_t i = 0; i < in.size(); ++i) {
    const char16_t c = in[i];
    // Only an ASCII unit starts a run: text of other scripts is not scanned ahead at every unit.
    if (c < 0x80) {
      const size_t ascii = asciiRunLength(in.substr(i));
      appendAscii(in.substr(i, ascii), out);
      i += ascii - 1;
      continue;
    }
    if (isHighSurrogate(c) && i + 1 < in.size() && isLowSurrogate(in[i + 1])) {
      const uint32_t cp = 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      appendCodePoint(cp, out);
      ++i;
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      if (unpaired == '\0') return false;
      out.push_back(unpaired);
    } else {
      appendCodePoint(c, out);
    }
  }
  return true;
}

// Decodes one well-formed UTF-8 sequence at in[pos]: no overlong forms, no
// surrogates, nothing above U+10FFFF. Returns its length, 0 when malformed.
size_t decodeUtf8(std::string_view in, size_t pos, uint32_t& cp) {
  const unsigned char lead = static_cast<unsigned char>(in[pos]);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (in.size() - pos < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char b = static_cast<unsigned char>(in[pos + k]);
    if (!isContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool utf16ToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  return convertUtf16(in, out, '\0');
}

std::string utf16ToUtf8Lenient(std::u16string_view in) {
  std::string out;
  appendUtf16AsUtf8Lenient(in, out);
  return out;
}

void appendUtf16AsUtf8Lenient(std::u16string_view in, std::string& out) { convertUtf16(in, out, '#'); }

bool utf8ToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t pos = 0; pos < in.size();) {
    uint32_t cp = 0;
    const size_t length = decodeUtf8(in, pos, cp);
    if (length == 0) return false;
    appendCodePoint(cp, out);
    pos += length;
  }
  return true;
}

std::u16string utf8ToUtf16Lenient(std::string_view in) {
  std::u16string out;
  appendUtf8AsUtf16Lenient(in, out);
  return out;
}

void appendUtf8AsUtf16Lenient(std::string_view in, std::u16string& out) {
  for (size_t pos = 0; pos < in.size();) {
    uint32_t cp = 0;
    const size_t length = decodeUtf8(in, pos, cp);
    if (length == 0) {
      // Resynchronise at the next byte, so every byte of a broken sequence
      // shows up as one replacement character.
      out.push_back(kReplacement);
      ++pos;
      continue;
    }
    appendCodePoint(cp, out);
    pos += length;
  }
}

std::string toNarrowFileName(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (char16_t c : in) out.push_back(c < 128 ? static_cast<char>(c) : '#');
  return out;
}

std::u16string asciiToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (char c : in) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

size_t utf16Length(const char16_t* s) {
  if (s == nullptr) return 0;
  size_t n = 0;
  while (s[n] != u'\0') ++n;
  return n;
}

std::u16string utf16Copy(const char16_t* s) {
  if (s == nullptr) return std::u16string();
  return std::u16string(s, utf16Length(s));
}
