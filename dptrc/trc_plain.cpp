// Plain lines: DpTrc and its variants.
#include <cstdarg>

#include "common/utf.h"
#include "dptrc/trc_format.h"
#include "dptrc/trc_output.h"
#include "dptrc/trc_repeat.h"
#include "dptrc/trc_time.h"
#include "dptrc/trc_writers.h"

namespace {

const char kTruncatedWarning[] = "\n*** WARNING => data was truncated\n";

// Either a format with its arguments or a finished text.
struct Message {
  const char* fmt;
  va_list* args;
  std::u16string_view text;
};

bool isLastNewline(std::u16string_view message, size_t pos) {
  const size_t n = message.size();
  return pos + 1 == n || (pos + 2 == n && message[n - 1] == u'\r');
}

bool endsWithNewline(std::u16string_view message) {
  const size_t n = message.size();
  return (n >= 1 && message[n - 1] == u'\n') || (n >= 2 && message[n - 2] == u'\n' && message[n - 1] == u'\r');
}

// The line with the prefix and thread tag repeated after every inner
// newline, so that every physical line carries them.
void expandLines(const std::u16string& line, size_t messageStart, const TrcComp& comp, std::u16string& expanded)
    REQUIRES(trcLock) {
  expanded.assign(line, 0, messageStart);
  const std::u16string_view message = std::u16string_view(line).substr(messageStart);
  for (size_t i = 0; i < message.size(); ++i) {
    expanded.push_back(message[i]);
    if (message[i] == u'\n' && !isLastNewline(message, i)) {
      trcAppendPrefix(expanded, comp);
      trcAppendThreadTag(expanded);
    }
  }
}

// site: a host-caused trace point (repeat-limited), or nullptr.
void writePlain(TrcHandle handle, TrcRepeatSite* site, const Message& message) {
  TrcLockGuard lock;
  try {
    TrcState& state = trcState();
    const TrcTarget target = trcResolve(handle);
    const TrcComp& comp = *target.comp;
    if (comp.level < TrcEntryLevel) return;
    const time_t now = trcRepeatSecond(site);
    trcReportRepeats(handle, now, false);
    TrcOutput& out = *target.out;
    trcRotateIfFull(out);

    const bool otherLetter = comp.letter != out.lastLetter;
    std::u16string& line = state.line;
    line.clear();
    if (otherLetter || out.atLineStart) trcAppendPrefix(line, comp);
    trcAppendThreadTag(line);
    const size_t messageStart = line.size();
    const TrcFormatResult result = message.fmt != nullptr
                                       ? trcAppendFormatted(line, kTrcLineMax, message.fmt, *message.args)
                                       : trcAppendText(line, kTrcLineMax, message.text);
    if (site != nullptr && !result.failed &&
        !trcRepeatAdmit(*site, std::u16string_view(line).substr(messageStart), now)) {
      return;
    }
    trcWriteTimeStampIfDue(target);
    if (result.failed) {
      trcWriteFormatFailure(out, result);
      trcFlush(out);
      return;
    }

    if (otherLetter && !out.atLineStart) trcEmitAscii("\n");
    expandLines(line, messageStart, comp, state.expanded);
    trcEmit(state.expanded);
    if (result.truncated) trcEmitAscii(kTruncatedWarning);
    out.lastLetter = comp.letter;
    out.atLineStart = result.truncated || endsWithNewline(std::u16string_view(line).substr(messageStart));
    trcFlush(out);
  } catch (...) {
    // Out of memory while growing a buffer: the line is lost, the caller goes on.
    trcState().pending.clear();
  }
}

void writeFormatted(TrcHandle handle, TrcRepeatSite* site, const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  writePlain(handle, site, Message{fmt != nullptr ? fmt : "", &copy, {}});
  va_end(copy);
}

}  // namespace

void DpTrcV(TrcHandle handle, const char* fmt, va_list args) { writeFormatted(handle, nullptr, fmt, args); }

void trcWritePlainV(TrcHandle handle, TrcRepeatSite* site, const char* fmt, va_list args) {
  writeFormatted(handle, site, fmt, args);
}

void DpTrc(TrcHandle handle, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  writeFormatted(handle, nullptr, fmt, args);
  va_end(args);
}

// A finished text written as a plain line (no formatting of its '%').
void trcWritePlainText(TrcHandle handle, TrcRepeatSite* site, std::u16string_view text) {
  writePlain(handle, site, Message{nullptr, nullptr, text});
}

std::string trcText(std::u16string_view text) { return utf16ToUtf8Lenient(text); }
