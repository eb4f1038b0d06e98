// The passport library's environment and its diagnostics.
//
// The environment is written by eppSetEnvironment and read by every other
// operation; its fields are atomics, so a reader never sees a torn value
// (readers take no lock). eppTraceLine formats one diagnostic line and hands
// it to the environment's trace function; use it through EPP_TRACE, which
// tests the level first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "passport/epp.h"
#include "port/printf_format.h"

struct EppEnvironment {
  std::atomic<bool> initialised{false};
  std::atomic<uint16_t> defaultComponent{0};
  std::atomic<uint8_t> defaultVersion{0};
  std::atomic<EppAllocFunc> allocFunc{nullptr};
  std::atomic<EppFreeFunc> freeFunc{nullptr};
  std::atomic<EppTraceFunc> traceFunc{nullptr};
  std::atomic<int32_t> traceLevel{0};
  // Recorded only: eppInit asks whether there is one.
  std::atomic<EppPassport*> defaultPassport{nullptr};
};

EppEnvironment& eppEnv();

inline bool eppInitialised() { return eppEnv().initialised.load(std::memory_order_acquire); }

// A diagnostic at this level would reach a trace function.
inline bool eppTraceWanted(int level) {
  const EppEnvironment& env = eppEnv();
  return env.traceFunc.load(std::memory_order_relaxed) != nullptr &&
         env.traceLevel.load(std::memory_order_relaxed) >= level;
}

// Formats a printf line ("%s" arguments are UTF-8), prefixes level-1 lines
// with "*** ERROR => ", cuts it to 255 UTF-16 characters and passes it on.
void eppTraceLine(int level, const char* fmt, ...) PORT_PRINTF_FORMAT(2, 3);

#define EPP_TRACE(level, ...)                                      \
  do {                                                             \
    if (eppTraceWanted(level)) eppTraceLine((level), __VA_ARGS__); \
  } while (0)

// Check 1 of every operation: traces the refusal and returns EPP_FAILED.
int32_t eppNotInitialised();

// Caller text for a "%s" argument: the first length characters (at most a
// line's worth) as UTF-8.
std::string eppTraceText(const char16_t* value, size_t length);
