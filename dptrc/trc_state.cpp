#include "dptrc/trc_state.h"

std::atomic<int> TrcLevel{0};
std::atomic<TrcHandle> moxTrc{nullptr};
int TrcEntryLevel = 2;

namespace {

// No other thread can see the state before it is returned: no lock yet.
TrcState* newState() NO_THREAD_SAFETY_ANALYSIS {
  auto* created = new TrcState;
  created->line.reserve(kTrcLineMax + 1);
  created->expanded.reserve(kTrcLineMax + 1);
  created->scratch.reserve(kTrcLineMax + 1);
  created->utf8.reserve(3 * (kTrcLineMax + 1));
  created->format.reserve(kTrcFormatMax + 1);
  created->pending.reserve(3 * (kTrcLineMax + 1));
  return created;
}

}  // namespace

TrcState& trcState() {
  static TrcState* const state = newState();
  return *state;
}
