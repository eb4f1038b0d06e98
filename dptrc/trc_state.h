// Process-wide state of the trace facility. Everything in TrcState is guarded
// by the trace lock (TrcLock/TrcUnlock, or TrcLockGuard), except the key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "dptrc/dptrc.h"
#include "thr/thr.h"

// One entry of the component table; a TrcHandle points at one.
struct TrcComp {
  char16_t letter = 0;  // upper case
  int level = 0;        // plain lines below TrcEntryLevel are dropped
  int depth = 0;        // indentation: 2 * depth spaces (at most 31)
  void* hook = nullptr;
};

// A destination and what was written to it last. Nothing written to it may
// wait or raise a signal in the host (dptrc/trc_sink.h): what it does not
// take at once is dropped and counted.
struct TrcOutput {
  int fd = -1;                 // the trace file: a descriptor of the library's own, non-blocking
  bool standardError = false;  // writes go to the process's standard error instead
  bool regularFile = false;    // a regular file: the size limit and the rotation apply
  bool atLineStart = true;     // the last output ended with a newline
  char16_t lastLetter = 0;     // 0: nothing written yet
  uint64_t bytes = 0;          // size of the file (counted for its limit)
  uint64_t headerEnd = 0;      // its size right after the header
  bool stampDue = false;       // a fresh file after a rotation starts with a time stamp
  uint64_t dropped = 0;        // writes it did not take since the last one it took
  bool cut = false;            // a write was taken in part: its line is unfinished
  bool full = false;           // a regular file that refused a write for the size limit of the process

  bool isOpen() const { return fd >= 0 || standardError; }
};

// An error line noted before the trace file was open.
struct TrcEarlyLine {
  const char* file;
  int line;
  std::string message;  // UTF-8, without its final newline
};
constexpr size_t kTrcEarlyLinesMax = 16;

constexpr int kTrcMaxComps = 2000;
constexpr size_t kTrcLineMax = 8191;          // characters of one line (buffer 8192)
constexpr size_t kTrcFormatMax = 1024;        // characters of an error-line format
constexpr size_t kTrcNarrowBytes = 4 * 8192;  // enough bytes for any line that fits
constexpr size_t kTrcLocationChars = 32;

struct TrcState {
  // The open trace file; when it failed to open, marked standardError and
  // written through standardError below.
  TrcOutput file GUARDED_BY(trcLock);
  std::u16string filePath GUARDED_BY(trcLock);               // its path, to rotate it
  TrcOutput standardError GUARDED_BY(trcLock) = {-1, true};  // the empty handle, and any handle while closed
  TrcComp comps[kTrcMaxComps] GUARDED_BY(trcLock);
  int nextComp GUARDED_BY(trcLock) = 1;  // entry 0 is never handed out
  TrcComp fallbackComp GUARDED_BY(trcLock) = {u'M', 3, 0, nullptr};
  char location[kTrcLocationChars] GUARDED_BY(trcLock) = "";
  time_t processSecond GUARDED_BY(trcLock) = 0;              // last time-stamp second of threads without a record
  ThrKey secondKey;                                          // per-thread last time-stamp second (thread-safe itself)
  TrcRepeatSite* repeatSites GUARDED_BY(trcLock) = nullptr;  // every host trace point that wrote
  TrcRepeatSite* pendingRepeats GUARDED_BY(trcLock) = nullptr;  // those with lines counted, not written
  std::vector<TrcEarlyLine> earlyLines GUARDED_BY(trcLock);

  // Buffers reused by every line.
  std::u16string line GUARDED_BY(trcLock);
  std::u16string expanded GUARDED_BY(trcLock);
  std::u16string scratch GUARDED_BY(trcLock);
  std::u16string suffix GUARDED_BY(trcLock);
  std::u16string stamp GUARDED_BY(trcLock);
  std::string utf8 GUARDED_BY(trcLock);
  std::string format GUARDED_BY(trcLock);
  std::string pending GUARDED_BY(trcLock);  // bytes emitted for the next write (dptrc/trc_sink.h)
  char narrow[kTrcNarrowBytes] GUARDED_BY(trcLock);
};

// The one state; created on first use and never destroyed, so that traces
// written while the process tears down still find it.
TrcState& trcState();

// In a forked child: a new trace lock (another thread may have held it).
void trcRenewLock();
// Registers the facility's fork handler for the child, once per process.
void trcRegisterForkHandler();

class SCOPED_CAPABILITY TrcLockGuard {
 public:
  TrcLockGuard() ACQUIRE(trcLock) { TrcLock(); }
  ~TrcLockGuard() RELEASE() { TrcUnlock(); }
  TrcLockGuard(const TrcLockGuard&) = delete;
  TrcLockGuard& operator=(const TrcLockGuard&) = delete;
};
