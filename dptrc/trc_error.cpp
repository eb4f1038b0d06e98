// Error and warning lines: "*** ERROR => " / "*** WARNING => ", the message
// and the location set by TrcSetLocation.
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "common/number_text.h"
#include "common/utf.h"
#include "dptrc/trc_format.h"
#include "dptrc/trc_output.h"
#include "dptrc/trc_repeat.h"
#include "dptrc/trc_writers.h"
#include "port/error_text.h"

namespace {

const char kTruncatedWarning[] = "\n*** WARNING => data was truncated\n";
const char kErrorPrefix[] = "*** ERROR => ";
const char kWarningPrefix[] = "*** WARNING => ";
constexpr size_t kLocationFileChars = 12;
constexpr size_t kLocationLineChars = 5;
constexpr size_t kMaxErrnoText = 256;

const char* errnoText(int error) {
  const char* text = portErrorText(error);
  if (text == nullptr) return "illegal errno";
  if (strlen(text) > kMaxErrnoText) return "error text too long";
  return text;
}

void appendNarrow(std::u16string& out, std::string_view text) { appendUtf8AsUtf16Lenient(text, out); }

// " (errno: text)" when error is given, then " [%-12.12s %.5s]\n" from the
// location buffer (file name, line number).
void buildSuffix(const char* location, const int* error, std::u16string& suffix) {
  suffix.clear();
  if (error != nullptr) {
    suffix.append(u" (");
    appendDecimal(suffix, static_cast<int32_t>(*error));
    suffix.append(u": ");
    appendNarrow(suffix, errnoText(*error));
    suffix.push_back(u')');
  }
  const std::string_view place(location);
  const std::string_view file = place.substr(0, kLocationFileChars);
  const std::string_view line =
      place.size() > kLocationFileChars ? place.substr(kLocationFileChars, kLocationLineChars) : std::string_view();
  suffix.append(u" [");
  appendNarrow(suffix, file);
  suffix.append(kLocationFileChars - file.size(), u' ');
  suffix.push_back(u' ');
  appendNarrow(suffix, line);
  suffix.append(u"]\n");
}

void writeError(TrcHandle handle, TrcRepeatSite* site, const char* kindPrefix, const char* fmt, va_list args,
                const int* error) {
  TrcLockGuard lock;
  try {
    TrcState& state = trcState();
    const TrcTarget target = trcResolve(handle);
    if (target.comp->level < 1) return;
    const time_t now = trcRepeatSecond(site);
    trcReportRepeats(handle, now, false);
    TrcOutput& out = *target.out;
    trcRotateIfFull(out);

    const bool formatCut = trcCopyFormat(fmt, state.format);
    if (!state.format.empty() && state.format.back() == '\n') state.format.pop_back();

    buildSuffix(state.location, error, state.suffix);
    std::u16string& line = state.line;
    line.clear();
    trcAppendPrefix(line, *target.comp);
    trcAppendThreadTag(line);
    appendNarrow(line, kindPrefix);
    const size_t messageStart = line.size();
    // The location always ends the line, so the message gives way to it.
    const size_t limit = kTrcLineMax - state.suffix.size();
    va_list copy;
    va_copy(copy, args);
    const TrcFormatResult result = trcAppendFormatted(line, limit, state.format.c_str(), copy);
    va_end(copy);
    if (site != nullptr && !result.failed &&
        !trcRepeatAdmit(*site, std::u16string_view(line).substr(messageStart), now)) {
      return;
    }
    trcWriteTimeStampIfDue(target);
    if (formatCut) trcEmitAscii("*** ERROR => Dptrc fmt string truncated\n");
    if (result.failed) {
      trcWriteFormatFailure(out, result);
      trcFlush(out);
      return;
    }
    line.append(state.suffix);
    trcEmit(line);
    if (result.truncated) trcEmitAscii(kTruncatedWarning);
    trcFlush(out);
  } catch (...) {
    // Out of memory while growing a buffer: the line is lost, the caller goes on.
    trcState().pending.clear();
  }
}

}  // namespace

void trcWriteErrorV(TrcHandle handle, TrcRepeatSite* site, const char* fmt, va_list args) {
  writeError(handle, site, kErrorPrefix, fmt, args, nullptr);
}

void TrcError(TrcHandle handle, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  writeError(handle, nullptr, kErrorPrefix, fmt, args, nullptr);
  va_end(args);
}

void TrcWarning(TrcHandle handle, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  writeError(handle, nullptr, kWarningPrefix, fmt, args, nullptr);
  va_end(args);
}

void TrcErrorErrno(TrcHandle handle, const char* fmt, ...) {
  const int error = errno;  // before anything here can change it
  va_list args;
  va_start(args, fmt);
  writeError(handle, nullptr, kErrorPrefix, fmt, args, &error);
  va_end(args);
}
