#include "mox/context/idle_mark.h"

#include "port/spin_wait.h"

bool IdleMark::claimUnlessOwnerHolds() {
  if (!tryClaim()) return false;
  ThrHeavyFence();
  if (ownerOutside()) return true;
  claimRelease();
  return false;
}

void IdleMark::claimWaiting() {
  while (!tryClaim()) portYieldThread();
  ThrHeavyFence();
  // Claimed, the owner cannot hold again; its current hold lasts one call.
  while (!ownerOutside()) portYieldThread();
}
