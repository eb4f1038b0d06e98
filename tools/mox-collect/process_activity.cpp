#include "process_activity.h"

namespace moxcollect {

void ProcessActivity::burstStarted(Clock::time_point now) {
  lastArrival_ = now;
  if (!burstSeen_) {
    burstSeen_ = true;
    lastBurst_ = now;
    return;
  }
  if (now - lastBurst_ < kMinInterval) return;
  interval_ = now - lastBurst_;
  lastBurst_ = now;
}

}  // namespace moxcollect
