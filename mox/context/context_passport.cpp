#include "mox/context/context_passport.h"

#include <utility>

#include "mox/config/configuration.h"
#include "mox/context/context_manager.h"
#include "mox/context/passport_elements.h"
#include "mox/context/passport_outgoing.h"

PassportSettings passportSettingsFromConfiguration(const CConfiguration& cfg) {
  const CConfiguration* config = &cfg;
  PassportSettings settings;
  settings.traceEnabledViaEm = config->getTraceEnabledViaEm();
  settings.traceEnabledViaE2e = config->getTraceEnabledViaE2e();
  settings.levelThreshold = config->getInstrumentLevelThreshold();
  settings.traceLevelThreshold = config->getInstrumentLevelThresholdTrace();
  return settings;
}

std::u16string currentPreviousComponentName(const CMTContextManager& registry) {
  return previousComponentName(registry.config().getSystemName(), registry.identity().name(), localHostName());
}

std::u16string contextOutgoingPassport(CMTContext& context) {
  if (context.traceOn != TraceMode::On) return std::u16string();
  const std::u16string previous = currentPreviousComponentName(context.manager());
  if (context.outConnectionId.empty()) context.outConnectionId = CreateGuidString();
  const uint32_t counter = context.outCounter++;
  return BuildOutgoingPassport(context.passportHandle, context.outConnectionId, counter,
                               static_cast<int16_t>(context.passportTraceLevel), previous);
}

std::u16string contextPassportElement(const CMTContext& context, uint16_t element) {
  return passportElementText(element, context.transactionId, context.rootContextId, context.connectionId,
                             context.connectionCounter);
}

const std::u16string& contextGuid(const CMTContext& context) { return context.guid(); }

void CMTContext::applyPassport(const std::u16string& newPassport, bool atCreation) {
  passportHandle.reset();
  passport = newPassport;
  outCounter = 0;
  PassportReading reading =
      detectPassport(newPassport, passportSettingsFromConfiguration(manager_->config()), atCreation);
  passportTraceFlag = reading.traceFlag;
  passportTraceLevel = reading.traceLevel;
  traceOn = reading.traceOn;
  traceLevelThreshold = reading.traceLevelThreshold;
  traceGuid = std::move(reading.traceGuid);
  // Ids of an earlier unit of work's passport do not carry over.
  transactionId = std::move(reading.transactionId);
  rootContextId = std::move(reading.ids.rootContextId);
  connectionId = std::move(reading.ids.connectionId);
  connectionCounter = reading.ids.connectionCounter;
  passportHandle = std::move(reading.passport);
}
