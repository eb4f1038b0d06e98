// Passport getters. The frame is complete; passports themselves arrive with
// their own change, so until then a context has no passport: flags and levels
// read 0 and the string getters return the empty string by the buffer
// convention, while the getters of a caller-given passport read nothing (0).
#include <string>

#include "mox/api/api_frame.h"

namespace {

using namespace moxapi;

// Seam: the passport string, trace GUID or element of the caller's context.
std::u16string contextPassportText(const std::u16string& /*key*/) { return std::u16string(); }

uint32_t contextGetter(const char* exportName, mox_char* buffer, uint32_t size) {
  if (!isActive()) return 0;
  return copyToHostBuffer(contextPassportText(threadSessionKey()), buffer, size, exportName);
}

uint32_t contextGetterEx(const char* exportName, MOX_SessionIdFunc getSessionId, mox_char* buffer, uint32_t size) {
  std::u16string key;
  if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return 0;
  return copyToHostBuffer(contextPassportText(key), buffer, size, exportName);
}

// Without passports every context's trace flag and level read 0.
int16_t contextFlag() { return 0; }

int16_t contextFlagEx(MOX_SessionIdFunc getSessionId) {
  std::u16string key;
  if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return 0;
  return 0;
}

}  // namespace

extern "C" {

int16_t MOX_getTraceFlag(void) { return guarded<int16_t>(0, [] { return contextFlag(); }); }
int16_t MOX_getTraceFlagEx(MOX_SessionIdFunc f) { return guarded<int16_t>(0, [&] { return contextFlagEx(f); }); }
int16_t MOX_getTraceLevel(void) { return guarded<int16_t>(0, [] { return contextFlag(); }); }
int16_t MOX_getTraceLevelEx(MOX_SessionIdFunc f) { return guarded<int16_t>(0, [&] { return contextFlagEx(f); }); }
int16_t MOX_getTraceLevel2(const mox_char* /*passport*/) { return 0; }

uint32_t MOX_getTraceGuid(mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetter("MOX_getTraceGuid", buffer, size); });
}
uint32_t MOX_getTraceGuidEx(MOX_SessionIdFunc f, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetterEx("MOX_getTraceGuidEx", f, buffer, size); });
}
uint32_t MOX_getPassport(mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetter("MOX_getPassport", buffer, size); });
}
uint32_t MOX_getPassportEx(MOX_SessionIdFunc f, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetterEx("MOX_getPassportEx", f, buffer, size); });
}
uint32_t MOX_getPassport2(const mox_char* /*passport*/, mox_char* /*buffer*/, uint32_t /*size*/) { return 0; }
uint32_t MOX_getPassportElement(uint16_t /*element*/, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetter("MOX_getPassportElement", buffer, size); });
}
uint32_t MOX_getPassportElementEx(MOX_SessionIdFunc f, uint16_t /*element*/, mox_char* buffer, uint32_t size) {
  return guarded<uint32_t>(0, [&] { return contextGetterEx("MOX_getPassportElementEx", f, buffer, size); });
}
uint32_t MOX_getPassportElement2(const mox_char* /*passport*/, uint16_t /*element*/, mox_char* /*buffer*/,
                                 uint32_t /*size*/) {
  return 0;
}

}  // extern "C"
