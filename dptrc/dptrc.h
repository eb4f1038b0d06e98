// The library trace file ("<name>_mox.trc") and its writers.
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
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

struct TrcComp;                // one entry of the component table
using TrcHandle = TrcComp*;    // nullptr: standard error

// Trace level 0..3, set when the file is opened. Read without the lock.
extern std::atomic<int> TrcLevel;
// The library's trace handle ("M" component); nullptr while closed.
extern std::atomic<TrcHandle> moxTrc;

// Opens path (mode "w" when truncate, else "a"), sets TrcLevel, makes it the
// output stream (stderr when it cannot be opened) and writes the header.
FILE* TrcOpenFile(const std::u16string& path, bool truncate, int level);
// Registers a component; 0 or -1. The library registers "M" once.
int CTrcNewComp(char16_t letter, TrcHandle* handle, void* hook);
// Closes the file (not stderr), empties the component table and frees the
// calling thread's record.
void TrcCloseFile(TrcHandle handle);

// Chooses and opens the library's trace file: "<logdir>/<name>_mox.trc", or
// "<name>_mox.trc" in the current directory when the first cannot be opened
// for writing; truncates, registers "M" into moxTrc. Returns the path used.
std::u16string TrcOpenLibraryFile(const std::u16string& processName, const std::u16string& logdir, int level);
// Closes the library's trace file and clears moxTrc.
void TrcCloseLibraryFile();

// The process-wide recursive trace lock (tag "dptrace").
void TrcLock();
void TrcUnlock();
// Location of the next error line: base name of file (after the last '/' or
// '\\') cut or padded to 12 characters, then the line number.
void TrcSetLocation(const char* file, int line);

extern int TrcEntryLevel;  // guarded by the trace lock; initially 2

void DpTrc(TrcHandle handle, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void DpTrcV(TrcHandle handle, const char* fmt, va_list args);
void TrcError(TrcHandle handle, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void TrcWarning(TrcHandle handle, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void TrcErrorErrno(TrcHandle handle, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// DpTrc without the thread tag, and without the time-stamp test.
void DpTrcNoTag(TrcHandle handle, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void DpTrcNoTime(TrcHandle handle, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Number of threads inside or waiting at the trace lock.
int TrcLockUsers();

// UTF-16 text as a "%s" argument.
std::string trcText(std::u16string_view text);

// Local time "YYYY-MM-DD hh:mm:ss" and "YYYY-MM-DD hh:mm:ss.mmm"; "ERROR_DATE"
// when the clock cannot be read.
std::u16string FormatCurrentTime();
std::u16string FormatCurrentTimeMs();
// The same texts for a given wall-clock time in milliseconds since 1970
// ("ERROR_DATE" for a negative or unconvertible time).
std::u16string FormatLocalTime(int64_t wallMs, bool withMs);

// ---- test hook ----------------------------------------------------------
// Replaces the seconds source of the time-stamp lines; nullptr restores the
// wall clock.
using TrcTimeSource = time_t (*)();
void TrcSetTimeSource(TrcTimeSource source);

// ---- the calling idiom --------------------------------------------------
// Plain line at level n (entry level 1 around level-1 lines).
void trcPlainLine(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Plain line whose whole text is given (no formatting of the text itself).
void trcPlainText(int level, std::u16string_view text);
// Error line with the caller's location.
void trcErrorLine(const char* file, int line, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

#define MOX_TRC(level, ...)                                                 \
  do {                                                                      \
    if (TrcLevel.load(std::memory_order_relaxed) >= (level)) trcPlainLine((level), __VA_ARGS__); \
  } while (0)

#define MOX_TRC_TEXT(level, text)                                           \
  do {                                                                      \
    if (TrcLevel.load(std::memory_order_relaxed) >= (level)) trcPlainText((level), (text)); \
  } while (0)

#define MOX_TRC_ERROR(...)                                                  \
  do {                                                                      \
    if (TrcLevel.load(std::memory_order_relaxed) >= 1) trcErrorLine(__FILE__, __LINE__, __VA_ARGS__); \
  } while (0)
