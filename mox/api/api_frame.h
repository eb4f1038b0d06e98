// The frame shared by the exported functions: the active test, the session
// key of the calling thread or of the host's session-id function, the buffer
// convention of the string getters, and the guard that keeps every failure on
// this side of the C boundary.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "mox.h"
#include "mox/api/library.h"
#include "port/thread_owned.h"
#include "thr/thr_entry_gate.h"

namespace moxapi {

// Initialisation count: 0 while the library is not initialised.
extern std::atomic<int16_t> initCount;

// The library object: set by the initialisation before the entry gate
// opens, cleared by the exit after the gate is shut and drained (and
// forgotten in a forked child); nullptr otherwise.
extern std::atomic<MoxLibrary*> currentLibrary;
// The library object, for a call inside the gate (where it is always there).
inline MoxLibrary& library() { return *currentLibrary.load(std::memory_order_relaxed); }

inline bool isInitialised() { return initCount.load(std::memory_order_relaxed) != 0; }
// Initialised and instrument_level_threshold is not 0.
inline bool isActive() {
  if (!isInitialised()) return false;
  MoxLibrary* current = currentLibrary.load(std::memory_order_relaxed);
  return current != nullptr && current->config().getInstrumentLevelThreshold() != 0;
}
// Whether a startTiming at this level is timed by at least one threshold.
inline bool levelPassesThresholds(uint16_t level) {
  const CConfiguration& cfg = library().config();
  return level < cfg.getInstrumentLevelThresholdTrace() || level < cfg.getInstrumentLevelThreshold();
}

// "%lu" of the calling thread's id ("Unknown" for the invalid id); built once per thread.
struct ThreadKey {
  ThreadKey();
  std::u16string text;
};
inline const std::u16string& threadSessionKey() { return ThreadOwned<ThreadKey, ThreadKey>::get().text; }
// The Ex exports' session key: false (with its error line) when the function
// is null or returns an empty string.
bool sessionKeyFromHost(MOX_SessionIdFunc getSessionId, std::u16string& key);

// Copies result by the getters' buffer convention; traces "<exportName>: buffer
// size is smaller than the required\n" at level 2 when it does not fit.
uint32_t copyToHostBuffer(const std::u16string& result, mox_char* buffer, uint32_t size, const char* exportName);

// Runs body inside the library's entry gate, which is open only while the
// library is initialised and not ending: otherwise, and on any exception,
// the neutral result. Exit waits for every body that got in.
template <typename R, typename F>
R guarded(R neutral, F&& body) noexcept {
  ThrGateEntry entry;
  if (!entry) return neutral;
  try {
    return body();
  } catch (...) {
    return neutral;
  }
}
template <typename F>
void guardedVoid(F&& body) noexcept {
  ThrGateEntry entry;
  if (!entry) return;
  try {
    body();
  } catch (...) {
  }
}

// The same without the gate, for the lifecycle exports.
template <typename R, typename F>
R ungated(R neutral, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return neutral;
  }
}

// Holds the lifecycle lock when no initialisation or exit runs (never
// waits): for the exports that also work on a library that is not
// initialised, which must not read objects that an exit is destroying.
class LifecycleTryHold {
 public:
  LifecycleTryHold();
  ~LifecycleTryHold();
  explicit operator bool() const { return held_; }
  LifecycleTryHold(const LifecycleTryHold&) = delete;
  LifecycleTryHold& operator=(const LifecycleTryHold&) = delete;

 private:
  bool held_;
};

}  // namespace moxapi
