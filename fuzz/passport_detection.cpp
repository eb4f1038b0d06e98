// Fuzz target: the passport detection of a context from any host string,
// and what a context then derives from the passport: its elements, the
// answers about the string itself, and the passport it hands on.
//
// The input is the host's string: UTF-8 (read leniently), or UTF-16LE when
// it starts with the byte order mark FF FE; like a host string it ends at
// its first NUL. Besides the sanitizers' findings it checks the invariants
// of the detection and that the passport handed on reads back.
#include "mox/context/passport_detection.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/context/passport_hex.h"
#include "mox/context/passport_on_string.h"
#include "mox/context/passport_outgoing.h"
#include "passport/epp_library_trace.h"

namespace {

const PassportSettings kSettings{0, 1, 10, 20};
const std::u16string kConnection = u"00112233445566778899AABBCCDDEEFF";

void require(bool condition) {
  if (!condition) std::abort();
}

std::u16string hostString(const uint8_t* data, size_t size) {
  std::u16string text;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    for (size_t i = 2; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    text = utf8ToUtf16Lenient(std::string_view(reinterpret_cast<const char*>(data), size));
  }
  return text.substr(0, text.find(u'\0'));
}

uint8_t versionOf(EppHandle passport) {
  uint8_t version = 0;
  require(eppGetVersion(passport, &version) == EPP_OK);
  return version;
}

void checkReading(const std::u16string& text, const PassportReading& r) {
  require(r.traceLevel <= 3);
  require(r.traceOn == traceModeOf(r.traceLevel != 0));
  const uint16_t threshold = r.traceLevel == 3 ? kUnfilteredThreshold : r.traceLevel == 2 ? 20 : 10;
  require(r.traceLevelThreshold == threshold);
  if (!r.passport) {
    const size_t star = text.find(u'*');
    require(star == std::u16string::npos || star == 0 || r.traceGuid == text.substr(0, star));
    return;
  }
  require(traceLevelOfPassport(text) == r.traceLevel);
  require(r.transactionId.empty() || r.transactionId.size() == 32);
  if (versionOf(r.passport.get()) == 3) require(r.traceGuid.empty() || r.traceGuid.size() == 72);
  for (uint16_t element = 0; element <= 5; ++element) {
    std::u16string value;
    require(passportElementOf(text, element, value));
    if (element == 1) require(value == r.transactionId);
  }
}

// The passport the context hands on reads back with its connection and counter.
void checkHandedOn(PassportReading& r) {
  const uint8_t sourceVersion = r.passport ? versionOf(r.passport.get()) : 3;
  const std::u16string out = BuildOutgoingPassport(r.passport, kConnection, 9, static_cast<int16_t>(r.traceLevel),
                                                   u"SYS-fuzz-host.example.org-abcdef");
  require(!out.empty());
  OwnedPassport back = ParseE2EPassport(out);
  require(back != nullptr);
  require(versionOf(back.get()) == (sourceVersion == 1 ? 1 : 3));
  std::u16string connection, counter;
  require(passportElementOf(out, 3, connection) && passportElementOf(out, 4, counter));
  if (sourceVersion != 1) require(connection == kConnection && counter == u"9");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every line of the handling is formatted (trace level 3) and written to
  // nowhere; of the passport library's only its errors (the target of its
  // own formats all of them).
  TrcLock();
  TrcOpenFile(u"/dev/null", true, 3);
  TrcHandle handle = nullptr;
  CTrcNewComp(u'M', &handle, nullptr);
  moxTrc.store(handle);
  TrcUnlock();
  require(eppSetEnvironment(8, 3, std::malloc, std::free, eppTraceToLibraryLog, 1) == EPP_OK);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = hostString(data, size);
  PassportReading reading = detectPassport(text, kSettings, true);
  checkReading(text, reading);
  checkHandedOn(reading);
  return 0;
}
