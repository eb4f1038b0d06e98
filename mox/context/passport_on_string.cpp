#include "mox/context/passport_on_string.h"

#include "mox/context/passport_elements.h"
#include "mox/context/passport_hex.h"
#include "mox/context/passport_outgoing.h"
#include "mox/context/passport_trace_flag.h"

namespace {

uint8_t versionOf(EppHandle passport) {
  uint8_t version = 0;
  eppGetVersion(passport, &version);
  return version;
}

uint16_t levelOf(EppHandle passport) { return TraceLevelFromFlag(e2eTraceFlag(passport), versionOf(passport)); }

}  // namespace

uint16_t traceLevelOfPassport(std::u16string_view text) {
  OwnedPassport passport = ParseE2EPassport(text);
  return passport ? levelOf(passport.get()) : 0;
}

bool outgoingPassportOf(std::u16string_view text, std::u16string_view previousComponentName, std::u16string& out) {
  OwnedPassport passport = ParseE2EPassport(text);
  if (!passport) return false;
  const int16_t level = static_cast<int16_t>(levelOf(passport.get()));
  out = BuildOutgoingPassport(passport, CreateGuidString(), 0, level, previousComponentName);
  return true;
}

bool passportElementOf(std::u16string_view text, uint16_t element, std::u16string& out) {
  OwnedPassport passport = ParseE2EPassport(text);
  if (!passport) return false;
  std::u16string transactionId;
  if (element == kTransactionIdElement) readTransactionId(passport.get(), transactionId);
  ConnectionIds ids;
  if (element != kTransactionIdElement && versionOf(passport.get()) >= 3) readConnectionIds(passport.get(), ids);
  out = passportElementText(element, transactionId, ids.rootContextId, ids.connectionId, ids.connectionCounter);
  return true;
}
