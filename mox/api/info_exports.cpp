// Information attached to calls and contexts: the append exports.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "common/utf.h"
#include "mox/api/api_frame.h"
#include "mox/context/context_manager.h"

namespace {

using namespace moxapi;

// The composed name must fit a 256-character buffer with its NUL.
constexpr size_t kInfoNameCapacity = 255;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// "Method Call Parameter " and paramName, cut to the buffer; a cut never
// leaves half of a surrogate pair behind. On the caller's stack: a host
// callback run on the way (a session-id function) may append in its turn.
class ParameterInfoName {
 public:
  explicit ParameterInfoName(const mox_char* paramName) {
    constexpr std::u16string_view kPrefix = u"Method Call Parameter ";
    const size_t room = kInfoNameCapacity - kPrefix.size();
    const size_t length = utf16Length(paramName);
    size_t taken = length < room ? length : room;
    if (taken < length && taken > 0 && isHighSurrogate(paramName[taken - 1])) --taken;
    std::copy(kPrefix.begin(), kPrefix.end(), units_);
    std::copy(paramName, paramName + taken, units_ + kPrefix.size());
    length_ = kPrefix.size() + taken;
  }
  std::u16string_view view() const { return {units_, length_}; }

 private:
  char16_t units_[kInfoNameCapacity];
  size_t length_;
};

// The host's text is read in place: the context copies what it keeps.
void appendInfoCore(const std::u16string& key, uint32_t recId, std::u16string_view name, std::u16string_view value,
                    bool toList) {
  library().registry().appendInfo(key, recId, name, value, toList);
}

void appendContextInfoCore(const std::u16string& key, const std::u16string& name, std::u16string value) {
  library().registry().appendContextInfo(key, name, std::move(value));
}

void appendInfo(uint32_t recId, std::u16string_view name, const mox_char* value, bool toList) {
  if (!isActive()) return;
  appendInfoCore(threadSessionKey(), recId, name, utf16View(value), toList);
}

void appendInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, std::u16string_view name, const mox_char* value,
                  bool toList) {
  std::u16string key;
  if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return;
  appendInfoCore(key, recId, name, utf16View(value), toList);
}

void appendContextInfo(const std::u16string& name, const mox_char* value) {
  if (!isActive()) return;
  appendContextInfoCore(threadSessionKey(), name, utf16Copy(value));
}

void appendContextInfoEx(MOX_SessionIdFunc getSessionId, const std::u16string& name, const mox_char* value) {
  std::u16string key;
  if (!isActive() || !sessionKeyFromHost(getSessionId, key)) return;
  appendContextInfoCore(key, name, utf16Copy(value));
}

const std::u16string kUserId = u"User ID";
const std::u16string kReturnValue = u"Return Value";
const std::u16string kException = u"Exception";
const std::u16string kOutboundPassport = u"outbound.VEL-PASSPORT";

}  // namespace

extern "C" {

void MOX_appendContextInfo(const mox_char* name, const mox_char* value) {
  guardedVoid([&] { appendContextInfo(utf16Copy(name), value); });
}
void MOX_appendContextInfoEx(MOX_SessionIdFunc getSessionId, const mox_char* name, const mox_char* value) {
  guardedVoid([&] { appendContextInfoEx(getSessionId, utf16Copy(name), value); });
}
void MOX_appendUserID(const mox_char* userId) {
  guardedVoid([&] { appendContextInfo(kUserId, userId); });
}
void MOX_appendUserIDEx(MOX_SessionIdFunc getSessionId, const mox_char* userId) {
  guardedVoid([&] { appendContextInfoEx(getSessionId, kUserId, userId); });
}
void MOX_appendInfo(uint32_t recId, const mox_char* name, const mox_char* value) {
  guardedVoid([&] { appendInfo(recId, utf16View(name), value, false); });
}
void MOX_appendInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* name, const mox_char* value) {
  guardedVoid([&] { appendInfoEx(getSessionId, recId, utf16View(name), value, false); });
}
void MOX_appendInfoToList(uint32_t recId, const mox_char* name, const mox_char* value) {
  guardedVoid([&] { appendInfo(recId, utf16View(name), value, true); });
}
void MOX_appendInfoToListEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* name,
                            const mox_char* value) {
  guardedVoid([&] { appendInfoEx(getSessionId, recId, utf16View(name), value, true); });
}
void MOX_appendParameterInfo(uint32_t recId, const mox_char* paramName, const mox_char* value) {
  guardedVoid([&] { appendInfo(recId, ParameterInfoName(paramName).view(), value, false); });
}
void MOX_appendParameterInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* paramName,
                               const mox_char* value) {
  guardedVoid([&] { appendInfoEx(getSessionId, recId, ParameterInfoName(paramName).view(), value, false); });
}
void MOX_appendReturnInfo(uint32_t recId, const mox_char* value) {
  guardedVoid([&] { appendInfo(recId, kReturnValue, value, false); });
}
void MOX_appendReturnInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* value) {
  guardedVoid([&] { appendInfoEx(getSessionId, recId, kReturnValue, value, false); });
}
void MOX_appendExceptionInfo(uint32_t recId, const mox_char* value) {
  guardedVoid([&] { appendInfo(recId, kException, value, false); });
}
void MOX_appendExceptionInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* value) {
  guardedVoid([&] { appendInfoEx(getSessionId, recId, kException, value, false); });
}
void MOX_appendPassportInfo(uint32_t recId, const mox_char* passport, uint8_t toList) {
  guardedVoid([&] { appendInfo(recId, kOutboundPassport, passport, toList != 0); });
}
void MOX_appendPassportInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* passport,
                              uint8_t toList) {
  guardedVoid([&] { appendInfoEx(getSessionId, recId, kOutboundPassport, passport, toList != 0); });
}

}  // extern "C"
