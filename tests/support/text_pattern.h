// Exact comparison of produced text where only numbers and start times vary.
// A pattern is literal text with two placeholders: {n} stands for a decimal
// number (maybe negative), {time} for a start time "yyyy-mm-dd hh:mm:ss" with
// or without ".mmm".
#pragma once

#include <cctype>
#include <string>

namespace testsupport {

namespace detail {

inline bool digitsAt(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[at + i]))) return false;
  }
  return true;
}

// Length of a start time at `at`, 0 when there is none.
inline size_t timeLength(const std::string& text, size_t at) {
  static const char shape[] = "dddd-dd-dd dd:dd:dd";
  for (size_t i = 0; shape[i] != '\0'; ++i) {
    if (at + i >= text.size()) return 0;
    const bool ok = shape[i] == 'd' ? digitsAt(text, at + i, 1) : text[at + i] == shape[i];
    if (!ok) return 0;
  }
  size_t length = sizeof(shape) - 1;
  if (at + length < text.size() && text[at + length] == '.' && digitsAt(text, at + length + 1, 3)) length += 4;
  return length;
}

inline size_t numberLength(const std::string& text, size_t at) {
  size_t end = at;
  if (end < text.size() && text[end] == '-') ++end;
  size_t digits = end;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  return digits > end ? digits - at : 0;
}

}  // namespace detail

// "" when text matches pattern; otherwise where and how they part.
inline std::string patternMismatch(const std::string& text, const std::string& pattern) {
  size_t t = 0;
  size_t p = 0;
  auto report = [&](const std::string& what) {
    return what + " at text offset " + std::to_string(t) + ": text \"" + text.substr(t, 60) + "\" pattern \"" +
           pattern.substr(p, 60) + "\"";
  };
  while (p < pattern.size()) {
    size_t placeholder = 0;
    size_t consumed = 0;
    if (pattern.compare(p, 3, "{n}") == 0) {
      placeholder = 3;
      consumed = detail::numberLength(text, t);
    } else if (pattern.compare(p, 6, "{time}") == 0) {
      placeholder = 6;
      consumed = detail::timeLength(text, t);
    }
    if (placeholder != 0) {
      if (consumed == 0) return report("expected " + pattern.substr(p, placeholder));
      t += consumed;
      p += placeholder;
      continue;
    }
    if (t >= text.size() || text[t] != pattern[p]) return report("differs");
    ++t;
    ++p;
  }
  return t == text.size() ? std::string() : report("text goes on");
}

}  // namespace testsupport
