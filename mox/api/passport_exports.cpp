// Passport getters: of the caller's context (plain and Ex), and of a
// passport string the caller passes (the "2" forms, which need only an
// initialised library). The string getters follow the buffer convention;
// for a passport string that is not an end-to-end passport the result is 0
// and the buffer is left untouched.
#include <string>

#include "common/utf.h"
#include "mox/api/api_frame.h"
#include "mox/context/context_manager.h"
#include "mox/context/context_passport.h"
#include "mox/context/passport_on_string.h"

namespace {

using namespace moxapi;

// result(context) for the context of key; the empty string without one.
template <typename Core>
std::u16string ofContext(const std::u16string& key, Core result) {
  ContextRef context = library().registry().findContext(key);
  return context ? result(*context.get()) : std::u16string();
}

template <typename Core>
uint32_t contextGetter(const char* exportName, mox_char* buffer, uint32_t size, Core result) {
  if (!isActive()) return 0;
  return copyToHostBuffer(ofContext(threadSessionKey(), result), buffer, size, exportName);
}

template <typename Core>
uint32_t contextGetterEx(const char* exportName, MOX_SessionIdFunc getSessionId, mox_char* buffer, uint32_t size,
                         Core result) {
  std::u16string key;
  if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return 0;
  return copyToHostBuffer(ofContext(key, result), buffer, size, exportName);
}

// field(context) of the key's context as a signed 16-bit number; 0 without one.
template <typename Field>
int16_t contextNumber(const std::u16string& key, Field field) {
  ContextRef context = library().registry().findContext(key);
  return context ? static_cast<int16_t>(field(*context.get())) : 0;
}

template <typename Field>
int16_t contextNumberOfThread(Field field) {
  if (!isActive()) return 0;
  return contextNumber(threadSessionKey(), field);
}

template <typename Field>
int16_t contextNumberEx(MOX_SessionIdFunc getSessionId, Field field) {
  std::u16string key;
  if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return 0;
  return contextNumber(key, field);
}

// answer(text, result) of a caller's passport string: false leaves the
// buffer untouched.
template <typename Answer>
uint32_t passportStringGetter(const char* exportName, const mox_char* passport, mox_char* buffer, uint32_t size,
                              Answer answer) {
  if (!isInitialised()) return 0;
  std::u16string result;
  if (!answer(utf16View(passport), result)) return 0;
  return copyToHostBuffer(result, buffer, size, exportName);
}

const auto traceFlagOf = [](const CMTContext& c) { return c.passportTraceFlag; };
const auto traceLevelOf = [](const CMTContext& c) { return c.passportTraceLevel; };
const auto guidOf = [](const CMTContext& c) { return contextGuid(c); };
const auto outgoingOf = [](CMTContext& c) { return contextOutgoingPassport(c); };
auto elementOf(uint16_t element) {
  return [element](const CMTContext& c) { return contextPassportElement(c, element); };
}

}  // namespace

extern "C" {

int16_t MOX_getTraceFlag(void) {
  return guarded<int16_t>(0, [] { return contextNumberOfThread(traceFlagOf); });
}
int16_t MOX_getTraceFlagEx(MOX_SessionIdFunc f) {
  return guarded<int16_t>(0, [&] { return contextNumberEx(f, traceFlagOf); });
}
int16_t MOX_getTraceLevel(void) {
  return guarded<int16_t>(0, [] { return contextNumberOfThread(traceLevelOf); });
}
int16_t MOX_getTraceLevelEx(MOX_SessionIdFunc f) {
  return guarded<int16_t>(0, [&] { return contextNumberEx(f, traceLevelOf); });
}
int16_t MOX_getTraceLevel2(const mox_char* passport) {
  return guarded<int16_t>(0, [&] {
    return isInitialised() ? static_cast<int16_t>(traceLevelOfPassport(utf16View(passport))) : int16_t{0};
  });
}

uint32_t MOX_getTraceGuid(mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetter("MOX_getTraceGuid", buffer, size, guidOf); });
}
uint32_t MOX_getTraceGuidEx(MOX_SessionIdFunc f, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetterEx("MOX_getTraceGuidEx", f, buffer, size, guidOf); });
}

uint32_t MOX_getPassport(mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetter("MOX_getPassport", buffer, size, outgoingOf); });
}
uint32_t MOX_getPassportEx(MOX_SessionIdFunc f, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetterEx("MOX_getPassportEx", f, buffer, size, outgoingOf); });
}
uint32_t MOX_getPassport2(const mox_char* passport, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] {
    return passportStringGetter(
        "MOX_getPassport2", passport, buffer, size, [](std::u16string_view text, std::u16string& out) {
          return outgoingPassportOf(text, currentPreviousComponentName(library().registry()), out);
        });
  });
}

uint32_t MOX_getPassportElement(uint16_t element, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0,
                           [&] { return contextGetter("MOX_getPassportElement", buffer, size, elementOf(element)); });
}
uint32_t MOX_getPassportElementEx(MOX_SessionIdFunc f, uint16_t element, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(
      0, [&] { return contextGetterEx("MOX_getPassportElementEx", f, buffer, size, elementOf(element)); });
}
uint32_t MOX_getPassportElement2(const mox_char* passport, uint16_t element, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] {
    return passportStringGetter(
        "MOX_getPassportElement2", passport, buffer, size,
        [element](std::u16string_view text, std::u16string& out) { return passportElementOf(text, element, out); });
  });
}

}  // extern "C"
