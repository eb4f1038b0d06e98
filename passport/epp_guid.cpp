// GUID texts from time-based UUIDs.
#include "passport/epp_guid.h"

#include "passport/epp.h"
#include "port/fork.h"
#include "port/uuid.h"
#include "thr/thr.h"
#include "thr/thr_static_mutex.h"

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

uint8_t byte(int value) { return static_cast<uint8_t>(value & 0xFF); }

// One UUID at a time from the system, process-wide.
ThrStaticMutex uuidSection;

// A forked child must not wait for a section another thread of the parent held.
void renewInChild() { uuidSection.renew(); }

bool timeBasedUuid(uint8_t uuid[16]) {
  static const bool forkHandled = portOnForkChild(renewInChild);
  (void)forkHandled;
  ThrStaticMutexHold hold(uuidSection);
  return portTimeBasedUuid(uuid);
}

}  // namespace

bool eppGuidFromUuid(const uint8_t u[16], std::u16string& guid) {
  if ((u[8] & 0xC0) != 0x80 || (u[6] >> 4) != 1) return false;
  uint8_t g[16];
  for (int i = 0; i < 6; ++i) g[i] = u[10 + i];
  g[6] = byte(u[6] << 4 | u[7] >> 4);
  g[7] = byte((u[7] & 0x0F) | ((u[8] & 0x20) != 0 ? 0xE0 : 0xD0));
  g[8] = byte(u[4] >> 2 | 0x80);
  g[9] = byte(0x80 | (u[4] & 3) << 5 | u[5] >> 3);
  g[10] = byte(u[5] << 5 | u[0] >> 3);
  g[11] = byte(u[0] << 5 | u[1] >> 3);
  g[12] = byte(u[1] << 5 | u[2] >> 3);
  g[13] = byte(u[2] << 5 | u[3] >> 3);
  g[14] = byte(u[3] << 5 | (u[8] & 0x1F));
  g[15] = u[9];
  guid.clear();
  for (uint8_t b : g) {
    guid.push_back(kHexDigits[b >> 4]);
    guid.push_back(kHexDigits[b & 0x0F]);
  }
  return true;
}

std::u16string CreateGuidString() {
  std::u16string guid;
  if (!ThrIsInitialised() && ThrInit() != THR_OK) return guid;
  uint8_t uuid[16];
  if (!timeBasedUuid(uuid) || !eppGuidFromUuid(uuid, guid)) guid.clear();
  return guid;
}
