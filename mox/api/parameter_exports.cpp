// Run-time parameters: thresholds, the data-sending interval, the parameter
// dump and the single-parameter getter.
#include <string>

#include "common/utf.h"
#include "mox/api/api_frame.h"
#include "mox/api/untimed_level.h"
#include "mox/config/configuration.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/dispatcher_manager.h"

namespace {

using namespace moxapi;

// The stored text holds at most nine digits.
constexpr uint32_t kMaxDataSendingInterval = 999999999;

// Sending cannot be switched off at run time: 0 takes the key's minimum too.
uint32_t clampDataSendingInterval(uint32_t interval) {
  const uint32_t minimum = moxconfig::entryOf(moxconfig::kDatasendingInterval).limit.minimum;
  if (interval < minimum) return minimum;
  if (interval > kMaxDataSendingInterval) return kMaxDataSendingInterval;
  return interval;
}

}  // namespace

extern "C" {

void MOX_changeInstruLevelThreshold(uint16_t level) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    library().config().setNumber(moxconfig::kInstrumentLevelThreshold, level);
    refreshUntimedLevel(&library());
  });
}

void MOX_changeInstruLevelThresholdForComponent(const mox_char* component, uint16_t level) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    library().registry().setComponentThreshold(utf16Copy(component), level);
  });
}

void MOX_changeTraceInstruLevelThresholdForComponent(const mox_char* component, uint16_t level) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    library().registry().setComponentTraceThreshold(utf16Copy(component), level);
  });
}

void MOX_changeDataSendingInterval(uint32_t interval) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    MoxLibrary& library = moxapi::library();
    library.config().setNumber(moxconfig::kDatasendingInterval, clampDataSendingInterval(interval));
    library.dispatcher().updateDataInterval(library.config().getDatasendingInterval());
  });
}

void MOX_checkActiveParameter(void) {
  guardedVoid([] {
    if (!isInitialised()) return;
    library().config().dumpParameters();
  });
}

uint32_t MOX_getSingleParameterValue(const mox_char* name, mox_char* buffer, uint32_t size) {
  const auto answer = [&]() -> uint32_t {
    if (name == nullptr || name[0] == 0) return 0;
    // No library (before the first initialisation, after an exit): an empty table.
    MoxLibrary* current = currentLibrary.load(std::memory_order_relaxed);
    const std::u16string value = current != nullptr ? current->config().getValue(utf16Copy(name)) : std::u16string();
    return copyToHostBuffer(value, buffer, size, "MOX_getSingleParameterValue");
  };
  // Answered also before initialisation (from an empty table); but
  // never while an initialisation or exit changes the configuration.
  {
    ThrGateEntry entry;
    if (entry) return ungated<uint32_t>(0, answer);
  }
  LifecycleTryHold quiet;
  return quiet ? ungated<uint32_t>(0, answer) : 0;
}

}  // extern "C"
