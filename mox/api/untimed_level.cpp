#include "mox/api/untimed_level.h"

#include <algorithm>

#include "mox/api/library.h"
#include "thr/thr_static_mutex.h"

namespace moxapi {

std::atomic<uint32_t> lowestUntimedLevel{0};

namespace {

// Orders the refreshes: two threshold changes racing could otherwise store
// their readings in the opposite order and leave the older one in the word.
ThrStaticMutex refreshLock;

uint32_t untimedFrom(const CConfiguration& cfg) {
  const uint16_t metricThreshold = cfg.getInstrumentLevelThreshold();
  if (metricThreshold == 0) return 0;  // measuring is off
  return std::max<uint32_t>(metricThreshold, cfg.getInstrumentLevelThresholdTrace());
}

}  // namespace

void refreshUntimedLevel(MoxLibrary* library) {
  refreshLock.lock();
  // The configuration getters are relaxed loads of atomics: nothing here throws.
  const uint32_t level = library != nullptr ? untimedFrom(library->config()) : 0;
  lowestUntimedLevel.store(level, std::memory_order_relaxed);
  refreshLock.unlock();
}

void forgetUntimedLevelInChild() {
  refreshLock.renew();
  lowestUntimedLevel.store(0, std::memory_order_relaxed);
}

}  // namespace moxapi
