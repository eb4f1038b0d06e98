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

}  // namespace

void trcPlainLine(int level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  {
    TrcLockGuard lock;
    EntryLevelScope entry(level);
    DpTrcV(libraryHandle(), fmt, args);
  }
  va_end(args);
}

void trcPlainText(int level, std::u16string_view text) {
  TrcLockGuard lock;
  EntryLevelScope entry(level);
  trcWritePlainText(libraryHandle(), text);
}

void trcErrorLine(const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  {
    TrcLockGuard lock;
    TrcSetLocation(file, line);
    trcWriteErrorV(libraryHandle(), fmt, args);
  }
  va_end(args);
}
