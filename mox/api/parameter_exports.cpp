// Run-time parameters: thresholds, the data-sending interval, the parameter
// dump and the single-parameter getter.
#include <string>

#include "common/number_text.h"
#include "common/utf.h"
#include "mox/api/api_frame.h"
#include "mox/config/configuration.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/dispatcher_manager.h"

namespace {

using namespace moxapi;

constexpr uint32_t kMinDataSendingInterval = 15;
// The stored text holds at most nine digits.
constexpr uint32_t kMaxDataSendingInterval = 999999999;

uint32_t clampDataSendingInterval(uint32_t interval) {
  if (interval < kMinDataSendingInterval) return kMinDataSendingInterval;
  if (interval > kMaxDataSendingInterval) return kMaxDataSendingInterval;
  return interval;
}

}  // namespace

extern "C" {

void MOX_changeInstruLevelThreshold(uint16_t level) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    CConfiguration::getInstance()->setParameter(u"instrument_level_threshold", decimalText(level));
  });
}

void MOX_changeInstruLevelThresholdForComponent(const mox_char* component, uint16_t level) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    CMTContextManager::getInstance()->setComponentThreshold(utf16Copy(component), level);
  });
}

void MOX_changeTraceInstruLevelThresholdForComponent(const mox_char* component, uint16_t level) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    CMTContextManager::getInstance()->setComponentTraceThreshold(utf16Copy(component), level);
  });
}

void MOX_changeDataSendingInterval(uint32_t interval) {
  guardedVoid([&] {
    if (!isInitialised()) return;
    CConfiguration::getInstance()->setParameter(u"datasending_interval",
                                                decimalText(clampDataSendingInterval(interval)));
    CDispatcherManager::getInstance()->updateDataInterval();
  });
}

void MOX_checkActiveParameter(void) {
  guardedVoid([] {
    if (!isInitialised()) return;
    CConfiguration::getInstance()->dumpParameters();
  });
}

uint32_t MOX_getSingleParameterValue(const mox_char* name, mox_char* buffer, uint32_t size) {
  const auto answer = [&]() -> uint32_t {
    if (name == nullptr || name[0] == 0) return 0;
    const std::u16string value = CConfiguration::getInstance()->getValue(utf16Copy(name));
    return copyToHostBuffer(value, buffer, size, "MOX_getSingleParameterValue");
  };
  // Answered also before initialisation, from the built-in defaults; but
  // never while an initialisation or exit changes the configuration.
  {
    ThrGateEntry entry;
    if (entry) return ungated<uint32_t>(0, answer);
  }
  LifecycleTryHold quiet;
  return quiet ? ungated<uint32_t>(0, answer) : 0;
}

}  // extern "C"
