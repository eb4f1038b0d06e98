#include "mox/context/passport_outgoing.h"

#include <algorithm>
#include <vector>

#include "common/utf.h"
#include "mox/context/passport_hex.h"
#include "mox/context/passport_trace_flag.h"
#include "port/host_name.h"

namespace {

void setTraceFlag(EppHandle passport, uint16_t flag) {
  uint8_t bytes[2];
  traceFlagBytes(flag, bytes);
  eppSetTraceFlag(passport, bytes);
}

// A version 2 passport is handed on as version 3, its flag renewed from the
// level so that the next component reads the same level from the version 3
// table.
void raiseVersion2(EppHandle passport, int16_t level) {
  uint8_t version = 0;
  if (eppGetVersion(passport, &version) != EPP_OK || version != 2) return;
  eppSetVersion(passport, 3);
  setTraceFlag(passport, traceFlagForLevel(level));
}

std::u16string serialisedAsHex(EppHandle passport) {
  size_t needed = 0;
  if (eppNeededNetworkSize(passport, &needed) != EPP_OK || needed == 0) return std::u16string();
  std::vector<uint8_t> stream(needed);
  size_t used = 0;
  if (eppSerialize(passport, stream.data(), stream.size(), &used) != EPP_OK) return std::u16string();
  return BytesToHex(stream.data(), std::min(used, stream.size()));
}

}  // namespace

std::u16string BuildOutgoingPassport(OwnedPassport& passport, std::u16string_view connectionId, uint32_t counter,
                                     int16_t level, std::u16string_view previousComponentName) {
  if (!passport) {
    EppHandle created = nullptr;
    if (eppInit(&created) != EPP_OK) return std::u16string();
    passport.reset(created);
    setTraceFlag(passport.get(), kNewPassportTraceFlag);
  } else {
    raiseVersion2(passport.get(), level);
  }
  // A shorter text (even an empty one, when no GUID could be made) leaves
  // the rest of the id zero.
  uint8_t id[EPP_ID_BYTES];
  HexToBytes(connectionId, id, EPP_ID_BYTES);
  eppSetConnectionId(passport.get(), id);
  eppSetConnectionCounter(passport.get(), counter);
  const std::u16string_view name = previousComponentName.substr(0, EPP_PRE_COMPONENT_NAME_MAX);
  eppSetPreComponentName(passport.get(), name.data(), name.size());
  return serialisedAsHex(passport.get());
}

std::u16string previousComponentName(std::u16string_view systemName, std::u16string_view processName,
                                     std::u16string_view hostName) {
  std::u16string name;
  name.reserve(systemName.size() + processName.size() + hostName.size() + 2);
  name.append(systemName).append(1, u'-').append(processName).append(1, u'-').append(hostName);
  if (name.size() > EPP_PRE_COMPONENT_NAME_MAX) name.resize(EPP_PRE_COMPONENT_NAME_MAX);
  return name;
}

std::u16string localHostName() {
  char name[256];
  if (!portHostName(name, sizeof name)) return u"unknown";
  return utf8ToUtf16Lenient(name);
}
