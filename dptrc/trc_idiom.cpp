// The calling idiom behind the MOX_TRC macros: lock, entry level, location,
// write, unlock, always through the library's own handle.
#include <cstdarg>

#include "dptrc/trc_state.h"
#include "dptrc/trc_writers.h"

namespace {

// Level-1 lines lower the entry level for just their own write.
class EntryLevelScope {
 public:
  explicit EntryLevelScope(int level) : lowered_(level == 1) {
    if (lowered_) TrcEntryLevel = 1;
  }
  ~EntryLevelScope() {
    if (lowered_) TrcEntryLevel = 2;
  }
  EntryLevelScope(const EntryLevelScope&) = delete;
  EntryLevelScope& operator=(const EntryLevelScope&) = delete;

 private:
  bool lowered_;
};

TrcHandle libraryHandle() { return moxTrc.load(std::memory_order_acquire); }

void plainLine(TrcRepeatSite* site, int level, const char* fmt, va_list args) {
  TrcLockGuard lock;
  EntryLevelScope entry(level);
  trcWritePlainV(libraryHandle(), site, fmt, args);
}

void plainText(TrcRepeatSite* site, int level, std::u16string_view text) {
  TrcLockGuard lock;
  EntryLevelScope entry(level);
  trcWritePlainText(libraryHandle(), site, text);
}

void errorLine(TrcRepeatSite* site, const char* file, int line, const char* fmt, va_list args) {
  TrcLockGuard lock;
  TrcSetLocation(file, line);
  trcWriteErrorV(libraryHandle(), site, fmt, args);
}

}  // namespace

void trcPlainLine(int level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  plainLine(nullptr, level, fmt, args);
  va_end(args);
}

void trcPlainText(int level, std::u16string_view text) { plainText(nullptr, level, text); }

void trcErrorLine(const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  errorLine(nullptr, file, line, fmt, args);
  va_end(args);
}

void trcHostPlainLine(TrcRepeatSite* site, int level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  plainLine(site, level, fmt, args);
  va_end(args);
}

void trcHostPlainText(TrcRepeatSite* site, int level, std::u16string_view text) { plainText(site, level, text); }

void trcHostErrorLine(TrcRepeatSite* site, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  errorLine(site, site->file, site->line, fmt, args);
  va_end(args);
}
