#include "thr/thr_spinlock.h"

#include <chrono>
#include <thread>

namespace {

// A holder still away after this many yields is not running: sleeping then
// costs the waiter less than more yields, each a system call.
constexpr int kYieldsBeforeSleep = 16;
constexpr auto kSleep = std::chrono::microseconds(50);

}  // namespace

void thrSpinBackOff(int rounds) {
  if (rounds < kYieldsBeforeSleep) {
    portYieldThread();
  } else {
    std::this_thread::sleep_for(kSleep);
  }
}
