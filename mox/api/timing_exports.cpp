// Contexts and timing: MOX_initContext, MOX_startTiming, MOX_endTiming,
// MOX_terminateTiming, MOX_terminateTimingAll and their Ex variants.
#include <string>
#include <string_view>

#include "common/utf.h"
#include "mox/api/api_frame.h"
#include "mox/api/untimed_level.h"
#include "mox/context/context_manager.h"

namespace {

using namespace moxapi;

CMTContextManager& registry() { return library().registry(); }

uint32_t startTimingFor(const std::u16string& key, const mox_char* component, const mox_char* method, uint16_t level,
                        KeyOwner owner) {
  return registry().startTiming(key, utf16View(component), utf16View(method), level, owner);
}

// The gated part of MOX_startTiming, out of line: the export's untimed test
// then needs no stack frame, and its common answer is a load, a compare and a
// return.
__attribute__((noinline)) uint32_t startTimingGated(const mox_char* component, const mox_char* method, uint16_t level) {
  return guarded<uint32_t>(0, [&]() -> uint32_t {
    if (!isActive() || !levelPassesThresholds(level)) return 0;
    return startTimingFor(threadSessionKey(), component, method, level, KeyOwner::Thread);
  });
}

}  // namespace

extern "C" {

void MOX_initContext(const mox_char* passport) {
  guardedVoid([&] {
    if (!isActive()) return;
    registry().initContext(threadSessionKey(), utf16Copy(passport));
  });
}

void MOX_initContextEx(MOX_SessionIdFunc getSessionId, const mox_char* passport) {
  guardedVoid([&] {
    std::u16string key;
    if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return;
    registry().initContext(key, utf16Copy(passport));
  });
}

// An untimed level, an inactive library and recId 0 are answered before the
// entry gate (untimed_level.h): a host's disabled instrumentation costs a load.
uint32_t MOX_startTiming(const mox_char* component, const mox_char* method, uint16_t level) {
  if (levelSurelyUntimed(level)) return 0;
  return startTimingGated(component, method, level);
}

uint32_t MOX_startTimingEx(MOX_SessionIdFunc getSessionId, const mox_char* component, const mox_char* method,
                           uint16_t level) {
  if (levelSurelyUntimed(level)) return 0;
  return guarded<uint32_t>(0, [&]() -> uint32_t {
    if (!isActive() || !levelPassesThresholds(level)) return 0;
    std::u16string key;
    if (!sessionKeyFromHost(getSessionId, key)) return 0;
    return startTimingFor(key, component, method, level, KeyOwner::Host);
  });
}

void MOX_endTiming(uint32_t recId) {
  if (recId == 0) return;
  guardedVoid([&] {
    if (!isActive() || recId == 0) return;
    registry().endTiming(threadSessionKey(), recId, KeyOwner::Thread);
  });
}

void MOX_endTimingEx(MOX_SessionIdFunc getSessionId, uint32_t recId) {
  if (recId == 0) return;
  guardedVoid([&] {
    std::u16string key;
    if (!isActive() || recId == 0 || !sessionKeyFromHost(getSessionId, key)) return;
    registry().endTiming(key, recId);
  });
}

void MOX_terminateTiming(uint32_t recId) {
  guardedVoid([&] {
    if (!isActive() || recId == 0) return;
    registry().terminateTiming(threadSessionKey(), recId, KeyOwner::Thread);
  });
}

void MOX_terminateTimingEx(MOX_SessionIdFunc getSessionId, uint32_t recId) {
  guardedVoid([&] {
    std::u16string key;
    if (!isActive() || recId == 0 || !sessionKeyFromHost(getSessionId, key)) return;
    registry().terminateTiming(key, recId);
  });
}

void MOX_terminateTimingAll(void) {
  guardedVoid([] {
    if (!isActive()) return;
    registry().terminateTimingAll(threadSessionKey());
  });
}

void MOX_terminateTimingAllEx(MOX_SessionIdFunc getSessionId) {
  guardedVoid([&] {
    std::u16string key;
    if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return;
    registry().terminateTimingAll(key);
  });
}

}  // extern "C"
