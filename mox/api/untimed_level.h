// The level test of the timing exports, ahead of the entry gate.
//
// MOX_startTiming at a level that no threshold times (or on a library that is
// not active) must cost next to nothing: one relaxed load of a word in static
// storage decides it before the gate and before any call out of line. The
// word is the lowest level that neither instrument_level_threshold nor
// instrument_level_threshold_trace times, or 0 (every level) while the
// library is not active; the lifecycle and the threshold change keep it
// current. The gated path still tests the thresholds themselves, so a word
// that lags a concurrent change errs only as a relaxed read of the threshold
// would.
#pragma once

#include <atomic>
#include <cstdint>

class MoxLibrary;

namespace moxapi {

extern std::atomic<uint32_t> lowestUntimedLevel;

// True when no threshold times level, or the library is not active.
inline bool levelSurelyUntimed(uint16_t level) { return level >= lowestUntimedLevel.load(std::memory_order_relaxed); }

// Recomputes the word from library's thresholds; nullptr: not active (0).
// Call after every change of the thresholds or of the active state; calls
// are ordered among themselves, so the last one reads the last change.
void refreshUntimedLevel(MoxLibrary* library);
// In a forked child, before anything else runs there: the word is 0 and its
// lock made anew (another thread of the parent may have held it).
void forgetUntimedLevelInChild();

}  // namespace moxapi
