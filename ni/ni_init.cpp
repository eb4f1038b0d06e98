// Initialisation of the layer and the IP protocol usage.
#include <stdlib.h>

#include <atomic>

#include "dptrc/dptrc.h"
#include "ni/ni_handle_table.h"
#include "ni/ni_internal.h"
#include "si/si.h"
#include "thr/thr_static_mutex.h"

namespace {

ThrStaticMutex initMutex;
int16_t initCount GUARDED_BY(initMutex) = 0;
std::atomic<bool> initialised{false};

// 0 undecided, 1 IPv4 only, 2 IPv4 and IPv6.
std::atomic<int> ipProtoUsage{0};

int decideIPProtoUsage() {
  const char* value = getenv("VEL_IPv6_ACTIVE");
  if (value == nullptr) return 1;
  char* end = nullptr;
  const long number = strtol(value, &end, 10);
  const bool decimal = end != value && *end == '\0';
  if (decimal && number == 0) return 1;
  if (decimal && number == 1) return 2;
  NI_RECORD("NiISetIPProtoUsage", NIEINVAL, "", "invalid value '" + std::string(value) + "' for VEL_IPv6_ACTIVE [0,1]");
  return 1;
}

}  // namespace

int NiInit3() {
  return niGuarded([] {
    ThrStaticMutexHold lock(initMutex);
    if (initCount < 0) {
      NI_RECORD("NiInit3", NIEINTERN, "", "NI initialization negative (" + std::to_string(initCount) + ")", 0, 1, false,
                true);
      initCount = 0;
    }
    if (initCount > 0) {
      ++initCount;
      MOX_TRC(2, "NiInit3: NI already initializes (init=%d;cur=%d)\n", 1, static_cast<int>(initCount));
      return VEL_O_K;
    }
    if (!SiStartup()) return NI_RECORD("NiInit3", NIEINTERN, "", "cannot start the socket layer");
    if (!niHdlTableInit()) return NI_RECORD("NiInit3", NIEINTERN, "", "cannot create the handle table");
    // Readiness waits through select only when poll is asked to stay unused.
    SiUseSelect(getenv("NOPOLL") != nullptr);
    initCount = 1;
    initialised.store(true, std::memory_order_release);
    return VEL_O_K;
  });
}

void niInitRenewLock() { initMutex.renew(); }

bool niInitialised() { return initialised.load(std::memory_order_acquire); }

bool niIPv6Active() {
  int usage = ipProtoUsage.load(std::memory_order_acquire);
  if (usage == 0) {
    // Two threads deciding at once read the same environment: the same answer.
    usage = decideIPProtoUsage();
    ipProtoUsage.store(usage, std::memory_order_release);
  }
  return usage == 2;
}

void NiIResetIPProtoUsage() { ipProtoUsage.store(0, std::memory_order_release); }
