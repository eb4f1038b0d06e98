// The trace mask, the per-thread error information and the error lines.
#include <errno.h>
#include <string.h>

#include <atomic>
#include <cstdio>

#include "dptrc/dptrc.h"
#include "ni/ni_internal.h"
#include "port/error_text.h"

namespace {

std::atomic<uint64_t> traceMask{NI_TRC_MASK_INITIAL};

thread_local NiErrorInfo lastError;

const char* baseName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The code's text with its "%s" filled in (texts hold at most one).
std::string filledText(int code, const std::string& arg) {
  std::string text = NiErrText(code);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

void writeErrorLine(const char* file, int line, const NiFailure& f, const std::string& message) {
  TrcLock();
  TrcSetLocation(file, line);
  TrcHandle handle = moxTrc.load(std::memory_order_acquire);
  if (f.warning) {
    TrcWarning(handle, "%s: %s\n", f.func, message.c_str());
  } else if (f.sysErr != 0) {
    errno = f.sysErr;  // the writer appends errno and its text
    TrcErrorErrno(handle, "%s: %s\n", f.func, message.c_str());
  } else {
    TrcError(handle, "%s: %s\n", f.func, message.c_str());
  }
  TrcUnlock();
}

void writeLogEntry(const char* file, int line, const NiFailure& f, const std::string& message) {
  std::string entry = "***LOG Q0I=> ";
  entry += f.func;
  entry += ": ";
  entry += message;
  entry += ' ';
  if (f.sysErr != 0) {
    const char* text = portErrorText(f.sysErr);
    entry += "(" + std::to_string(f.sysErr) + ": " + (text ? text : "illegal errno") + ") ";
  }
  entry += "[" + std::string(baseName(file)) + " " + std::to_string(line) + "]\n";
  trcPlainLine(1, "%s", entry.c_str());
}

}  // namespace

int niRecord(const char* file, int line, const NiFailure& f) {
  try {
    const std::string text = filledText(f.code, f.codeArg);
    const std::string& message = f.message.empty() ? text : f.message;
    lastError.code = f.code;
    lastError.sysErr = f.sysErr;
    lastError.component = "NI (network interface)";
    lastError.location = std::string(baseName(file)) + " " + std::to_string(line);
    lastError.text = f.message.empty() ? text : text + "\n" + f.message;
    const int level = TrcLevel.load(std::memory_order_relaxed);
    if (level >= f.traceLevel) writeErrorLine(file, line, f, message);
    if (f.logEntry && level >= 1) writeLogEntry(file, line, f, message);
  } catch (...) {
    // Out of memory while building the texts: the code still reaches the caller.
  }
  return f.code;
}

bool niConnLogOn() { return (traceMask.load(std::memory_order_relaxed) & NI_TRC_MASK_CONN_LOG) != 0; }

uint64_t NiTraceMask() { return traceMask.load(std::memory_order_relaxed); }

int NiDisableTrace(uint64_t mask) {
  const uint64_t now = traceMask.fetch_and(~mask, std::memory_order_relaxed) & ~mask;
  MOX_TRC(2, "NiDisableTrace: new mask %016llx\n", static_cast<unsigned long long>(now));
  return VEL_O_K;
}

int NiEnableTrace(uint64_t mask) {
  const uint64_t now = traceMask.fetch_or(mask, std::memory_order_relaxed) | mask;
  MOX_TRC(2, "NiEnableTrace: new mask %016llx\n", static_cast<unsigned long long>(now));
  return VEL_O_K;
}

const NiErrorInfo& NiLastError() { return lastError; }
