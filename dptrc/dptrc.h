// The library trace file ("<name>_mox.trc") and its writers.
//
// Names: the facility's established interface keeps its own names (Trc…,
// CTrc…, DpTrc…, TrcLevel); everything this library adds around it is
// lower camel with the prefix trc (trcOpenLibraryFile, trcText, …).
//
// Formats are narrow printf formats; "%s" arguments are UTF-8 (convert
// UTF-16 text with trcText). Inside, each line is handled in UTF-16 (the
// 8191-character limit counts UTF-16 code units) and written as UTF-8, an
// unpaired surrogate as "#".
//
// Every trace point of the library is one line:
//   MOX_TRC(2, "%s - [StartTiming]\n", trcText(key).c_str());
//   MOX_TRC_ERROR("Abnormal exception encountered, invalid recId input!\n");
// The macros test the level first (a disabled trace point costs one integer
// comparison), then lock, set the location, write and unlock.
//
// Trace points that a host call can trigger (an export, or the core it runs)
// use the MOX_TRC_HOST variants, so that a host calling in a loop cannot
// fill the disk: once one such trace point has written kTrcRepeatLimit
// identical lines within one second, further identical lines of that second
// are only counted, and one line "... line of <file>:<line> repeated <N>
// times" follows once the second is over (at the next trace line, or at the
// close). Lines that the library's own threads write use the plain macros.
//
// The file has a size limit: a line that finds it at kTrcFileSizeLimit bytes
// or more first renames it to "<file>.old" (replacing an older one) and
// starts it again with a header.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "port/printf_format.h"
#include "port/thread_annotations.h"

struct TrcComp;              // one entry of the component table
using TrcHandle = TrcComp*;  // nullptr: standard error

// Trace level 0..3, set when the file is opened. Read without the lock.
extern std::atomic<int> TrcLevel;
// The library's trace handle ("M" component); nullptr while closed.
extern std::atomic<TrcHandle> moxTrc;

// Opens path for appending (emptied first when truncate), sets TrcLevel,
// makes it the output (standard error when it cannot be opened) and writes
// the header. True when the file opened. A FIFO without a reader cannot be
// opened; nothing the facility writes waits for a reader or raises SIGPIPE
// or SIGXFSZ: a write the output does not take at once is dropped, and the
// next write it takes starts with a line "... N trace writes dropped: ...".
bool TrcOpenFile(const std::u16string& path, bool truncate, int level);
// Registers a component; 0 or -1. The library registers "M" once.
int CTrcNewComp(char16_t letter, TrcHandle* handle, void* hook);
// Closes the file (not standard error), empties the component table and
// frees the calling thread's record.
void TrcCloseFile(TrcHandle handle);

// Chooses and opens the library's trace file: "<logdir>/<name>_mox.trc", or
// "<name>_mox.trc" in the current directory when the first cannot be opened
// for writing (a FIFO without a reader cannot) or logdir is empty or holds a
// U+0000; truncates, registers "M" into moxTrc, then writes the lines noted
// with MOX_TRC_ERROR_EARLY. Returns the path used.
std::u16string trcOpenLibraryFile(const std::u16string& processName, const std::u16string& logdir, int level);
// Writes the pending "repeated" lines, closes the library's trace file and
// clears moxTrc.
void trcCloseLibraryFile();

// The trace lock as the lock analysis names it; it holds no state (the lock
// itself is a ThrRecMtx inside the facility).
struct CAPABILITY("mutex") TrcLockName {};
extern TrcLockName trcLock;

// The process-wide recursive trace lock (tag "dptrace").
void TrcLock() ACQUIRE(trcLock);
void TrcUnlock() RELEASE(trcLock);
// Location of the next error line: base name of file (after the last '/' or
// '\\') cut or padded to 12 characters, then the line number.
void TrcSetLocation(const char* file, int line);

extern int TrcEntryLevel GUARDED_BY(trcLock);  // initially 2

void DpTrc(TrcHandle handle, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);
void DpTrcV(TrcHandle handle, const char* fmt, va_list args);
void TrcError(TrcHandle handle, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);
void TrcWarning(TrcHandle handle, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);
void TrcErrorErrno(TrcHandle handle, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);
// UTF-16 text as a "%s" argument.
std::string trcText(std::u16string_view text);

// Local time "YYYY-MM-DD hh:mm:ss" (or with ".mmm" when withMs) of a
// wall-clock time in milliseconds since 1970; "ERROR_DATE" for a negative or
// unconvertible time.
std::u16string trcFormatLocalTime(int64_t wallMs, bool withMs);

// ---- test hook ----------------------------------------------------------
// Replaces the seconds source of the time-stamp lines; nullptr restores the
// wall clock.
using TrcTimeSource = time_t (*)();
void trcSetTimeSource(TrcTimeSource source);
// Replaces the size limit of the trace file; 0 restores kTrcFileSizeLimit.
void trcSetFileSizeLimit(uint64_t bytes);

constexpr uint64_t kTrcFileSizeLimit = 64ull << 20;
constexpr uint32_t kTrcRepeatLimit = 100;  // identical lines per trace point and second

// ---- the calling idiom --------------------------------------------------
// Plain line at level n (entry level 1 around level-1 lines).
void trcPlainLine(int level, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);
// Plain line whose whole text is given (no formatting of the text itself).
void trcPlainText(int level, std::u16string_view text);
// Error line with the caller's location.
void trcErrorLine(const char* file, int line, const char* fmt, ...) PORT_PRINTF_FORMAT(3, 4);

// One host-caused trace point. Constant-initialised (a static of the macro
// costs nothing before its first line); its counts are guarded by the trace
// lock and belong to the trace facility.
struct TrcRepeatSite {
  static constexpr int kTexts = 4;  // distinct lines counted per second

  constexpr TrcRepeatSite(const char* sourceFile, int sourceLine) : file(sourceFile), line(sourceLine) {}

  const char* const file;
  const int line;
  time_t second GUARDED_BY(trcLock) = 0;               // the second the counts belong to
  uint64_t textHash[kTexts] GUARDED_BY(trcLock) = {};  // the lines seen in that second
  uint32_t textCount[kTexts] GUARDED_BY(trcLock) = {};
  int texts GUARDED_BY(trcLock) = 0;
  uint64_t suppressed GUARDED_BY(trcLock) = 0;               // lines counted instead of written
  TrcRepeatSite* nextSite GUARDED_BY(trcLock) = nullptr;     // every site that has written
  TrcRepeatSite* nextPending GUARDED_BY(trcLock) = nullptr;  // sites with lines to report
  bool listed GUARDED_BY(trcLock) = false;
  bool pending GUARDED_BY(trcLock) = false;
};

void trcHostPlainLine(TrcRepeatSite* site, int level, const char* fmt, ...) PORT_PRINTF_FORMAT(3, 4);
void trcHostPlainText(TrcRepeatSite* site, int level, std::u16string_view text);
void trcHostErrorLine(TrcRepeatSite* site, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);
// An error line from code that may run before the trace file is open (the
// configuration is read first): written at once when the file is open, else
// kept (at most 16 lines) and written right after the header by the next
// trcOpenLibraryFile whose level is 1 or more.
void trcEarlyErrorLine(const char* file, int line, const char* fmt, ...) PORT_PRINTF_FORMAT(3, 4);

#define MOX_TRC(level, ...)                                                                      \
  do {                                                                                           \
    if (TrcLevel.load(std::memory_order_relaxed) >= (level)) trcPlainLine((level), __VA_ARGS__); \
  } while (0)

#define MOX_TRC_TEXT(level, text)                                                           \
  do {                                                                                      \
    if (TrcLevel.load(std::memory_order_relaxed) >= (level)) trcPlainText((level), (text)); \
  } while (0)

#define MOX_TRC_ERROR(...)                                                                            \
  do {                                                                                                \
    if (TrcLevel.load(std::memory_order_relaxed) >= 1) trcErrorLine(__FILE__, __LINE__, __VA_ARGS__); \
  } while (0)

#define MOX_TRC_HOST(level, ...)                               \
  do {                                                         \
    if (TrcLevel.load(std::memory_order_relaxed) >= (level)) { \
      static TrcRepeatSite trcSite_(__FILE__, __LINE__);       \
      trcHostPlainLine(&trcSite_, (level), __VA_ARGS__);       \
    }                                                          \
  } while (0)

#define MOX_TRC_HOST_TEXT(level, text)                         \
  do {                                                         \
    if (TrcLevel.load(std::memory_order_relaxed) >= (level)) { \
      static TrcRepeatSite trcSite_(__FILE__, __LINE__);       \
      trcHostPlainText(&trcSite_, (level), (text));            \
    }                                                          \
  } while (0)

#define MOX_TRC_HOST_ERROR(...)                          \
  do {                                                   \
    if (TrcLevel.load(std::memory_order_relaxed) >= 1) { \
      static TrcRepeatSite trcSite_(__FILE__, __LINE__); \
      trcHostErrorLine(&trcSite_, __VA_ARGS__);          \
    }                                                    \
  } while (0)

#define MOX_TRC_ERROR_EARLY(...) trcEarlyErrorLine(__FILE__, __LINE__, __VA_ARGS__)
