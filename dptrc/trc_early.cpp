#include "dptrc/trc_early.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "dptrc/trc_state.h"
#include "dptrc/trc_writers.h"

namespace {

constexpr size_t kEarlyMessageMax = 1024;

std::string formatMessage(const char* fmt, va_list args) {
  char text[kEarlyMessageMax];
  const int length = vsnprintf(text, sizeof text, fmt != nullptr ? fmt : "", args);
  std::string message(text, length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof text - 1));
  if (!message.empty() && message.back() == '\n') message.pop_back();
  return message;
}

}  // namespace

void trcEarlyErrorLine(const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  try {
    TrcLockGuard lock;
    TrcState& state = trcState();
    const TrcHandle handle = moxTrc.load(std::memory_order_acquire);
    if (handle != nullptr) {
      if (TrcLevel.load(std::memory_order_relaxed) >= 1) {
        TrcSetLocation(file, line);
        trcWriteErrorV(handle, nullptr, fmt, args);
      }
    } else if (state.earlyLines.size() < kTrcEarlyLinesMax) {
      state.earlyLines.push_back(TrcEarlyLine{file, line, formatMessage(fmt, args)});
    }
  } catch (...) {
    // Out of memory: the line is lost, the caller goes on.
  }
  va_end(args);
}

void trcWriteEarlyLines(TrcHandle handle) {
  TrcState& state = trcState();
  if (TrcLevel.load(std::memory_order_relaxed) >= 1) {
    for (const TrcEarlyLine& early : state.earlyLines) {
      TrcSetLocation(early.file, early.line);
      TrcError(handle, "%s\n", early.message.c_str());
    }
  }
  state.earlyLines.clear();
}
