// The frame shared by the exported functions: the active test, the session
// key of the calling thread or of the host's session-id function, the buffer
// convention of the string getters, and the guard that keeps every failure on
// this side of the C boundary.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "mox.h"

namespace moxapi {

// Initialisation count: 0 while the library is not initialised.
extern std::atomic<int16_t> initCount;

inline bool isInitialised() { return initCount.load(std::memory_order_relaxed) != 0; }
// Initialised and instrument_level_threshold is not 0.
bool isActive();
// Whether a startTiming at this level is timed by at least one threshold.
bool levelPassesThresholds(uint16_t level);

// "%lu" of the calling thread's id ("Unknown" for the invalid id); built once per thread.
const std::u16string& threadSessionKey();
// The Ex exports' session key: false (with its error line) when the function
// is null or returns an empty string.
bool sessionKeyFromHost(MOX_SessionIdFunc getSessionId, std::u16string& key);

// Copies result by the getters' buffer convention; traces "<exportName>: buffer
// size is smaller than the required\n" at level 2 when it does not fit.
uint32_t copyToHostBuffer(const std::u16string& result, mox_char* buffer, uint32_t size, const char* exportName);

// Runs body, turning any exception into the neutral result.
template <typename R, typename F>
R guarded(R neutral, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return neutral;
  }
}
template <typename F>
void guardedVoid(F&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace moxapi
