#include "passport/epp_env.h"

#include <cstdarg>
#include <cstdio>

#include "common/utf.h"

namespace {

constexpr size_t kLineMax = 255;  // UTF-16 characters of one diagnostic line
constexpr char16_t kErrorPrefix[] = u"*** ERROR => ";

bool inRange(uint16_t component, uint8_t version, EppAllocFunc allocFunc, EppFreeFunc freeFunc, int32_t traceLevel) {
  // A missing release function would make every delete fail; refuse it with
  // the missing allocation function.
  return component >= 1 && component <= 9 && version >= 1 && version <= 3 && allocFunc != nullptr &&
         freeFunc != nullptr && traceLevel >= 0;
}

}  // namespace

EppEnvironment& eppEnv() {
  static EppEnvironment env;
  return env;
}

void eppTraceLine(int level, const char* fmt, ...) {
  const EppTraceFunc sink = eppEnv().traceFunc.load(std::memory_order_relaxed);
  if (sink == nullptr) return;
  // Enough bytes for 255 characters of any UTF-8; the cut below is by characters.
  char narrow[4 * kLineMax + 1];
  va_list args;
  va_start(args, fmt);
  const int written = vsnprintf(narrow, sizeof narrow, fmt, args);
  va_end(args);
  if (written < 0) return;
  std::u16string line;
  if (level == 1) line = kErrorPrefix;
  appendUtf8AsUtf16Lenient(narrow, line);
  if (line.size() > kLineMax) line.resize(kLineMax);
  sink(line.c_str());
}

int32_t eppNotInitialised() {
  EPP_TRACE(1, "passport library not yet initialized\n");
  return EPP_FAILED;
}

std::string eppTraceText(const char16_t* value, size_t length) {
  if (value == nullptr) return std::string();
  if (length > kLineMax) length = kLineMax;
  return utf16ToUtf8Lenient(std::u16string_view(value, length));
}

int32_t eppSetEnvironment(uint16_t component, uint8_t version, EppAllocFunc allocFunc, EppFreeFunc freeFunc,
                          EppTraceFunc traceFunc, int32_t traceLevel) {
  if (!inRange(component, version, allocFunc, freeFunc, traceLevel)) return EPP_INVALID;
  EppEnvironment& env = eppEnv();
  env.defaultComponent.store(component, std::memory_order_relaxed);
  env.defaultVersion.store(version, std::memory_order_relaxed);
  env.allocFunc.store(allocFunc, std::memory_order_relaxed);
  env.freeFunc.store(freeFunc, std::memory_order_relaxed);
  env.traceFunc.store(traceFunc, std::memory_order_relaxed);
  env.traceLevel.store(traceLevel, std::memory_order_relaxed);
  env.initialised.store(true, std::memory_order_release);
  EPP_TRACE(2, "%s: set component = %u, version = %u, allocFunc = %p, freeFunc = %p, traceFunc = %p, traceLevel = %u\n",
            __func__, static_cast<unsigned>(component), static_cast<unsigned>(version),
            reinterpret_cast<void*>(allocFunc), reinterpret_cast<void*>(freeFunc), reinterpret_cast<void*>(traceFunc),
            static_cast<unsigned>(traceLevel));
  return EPP_OK;
}
