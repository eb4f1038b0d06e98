#include "dptrc/trc_format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/utf.h"
#include "dptrc/trc_output.h"

namespace {

TrcFormatResult appendCut(std::u16string& line, size_t limit, std::u16string_view text) {
  TrcFormatResult result;
  const size_t room = line.size() < limit ? limit - line.size() : 0;
  result.truncated = text.size() > room;
  line.append(text.substr(0, room));
  return result;
}

// Position where the conversion starting at fmt[start] ('%') ends (one past
// its conversion character), or npos when the text ends inside it.
size_t conversionEnd(const std::string& fmt, size_t start) {
  static const char kInside[] = "0123456789.-+ #*'$hlLqjzt";
  for (size_t i = start + 1; i < fmt.size(); ++i) {
    if (strchr(kInside, fmt[i]) == nullptr) return i + 1;  // the conversion character
  }
  return std::string::npos;
}

}  // namespace

TrcFormatResult trcAppendFormatted(std::u16string& line, size_t limit, const char* fmt, va_list args) {
  TrcState& state = trcState();
  errno = 0;
  const int written = vsnprintf(state.narrow, sizeof state.narrow, fmt != nullptr ? fmt : "", args);
  if (written < 0) {
    TrcFormatResult failure;
    failure.failed = true;
    failure.error = errno;
    failure.sourceLine = __LINE__;
    return failure;
  }
  // A message longer than the narrow buffer cannot fit a line either, so the
  // cut below reports it as truncated.
  const size_t bytes =
      static_cast<size_t>(written) < sizeof state.narrow ? static_cast<size_t>(written) : sizeof state.narrow - 1;
  state.scratch.clear();
  appendUtf8AsUtf16Lenient(std::string_view(state.narrow, bytes), state.scratch);
  return appendCut(line, limit, state.scratch);
}

TrcFormatResult trcAppendText(std::u16string& line, size_t limit, std::u16string_view text) {
  return appendCut(line, limit, text);
}

void trcWriteFormatFailure(TrcOutput& out, const TrcFormatResult& result) {
  char text[128];
  snprintf(text, sizeof text, "*** ERROR => vsnprintf err, errno=%d [%s %d]\n", result.error, "dptrace_r.c",
           result.sourceLine);
  trcEmitAscii(text);
  out.atLineStart = true;
}

bool trcCopyFormat(const char* fmt, std::string& out) {
  out.assign(fmt != nullptr ? fmt : "");
  if (out.size() <= kTrcFormatMax) return false;
  out.resize(kTrcFormatMax);
  // A cut through "%ld" or "%%" must not leave a conversion that would read
  // an argument of the wrong type.
  for (size_t i = 0; i < out.size();) {
    if (out[i] != '%') {
      ++i;
      continue;
    }
    const size_t end = conversionEnd(out, i);
    if (end == std::string::npos) {
      out.resize(i);
      break;
    }
    i = end;
  }
  return true;
}
