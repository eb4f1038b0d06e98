#include "connection_gauge.h"

#include <algorithm>

void ConnectionGauge::take() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++now_.inUse;
  ++now_.taken;
  now_.high = std::max(now_.high, now_.inUse);
}

void ConnectionGauge::giveBack() {
  std::lock_guard<std::mutex> hold(mutex_);
  --now_.inUse;
  now_.low = std::min(now_.low, now_.inUse);
}

ConnectionGauge::Reading ConnectionGauge::read() {
  std::lock_guard<std::mutex> hold(mutex_);
  const Reading reading = now_;
  now_.high = now_.low = now_.inUse;
  now_.taken = 0;
  return reading;
}
