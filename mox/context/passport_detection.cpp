#include "mox/context/passport_detection.h"

#include <utility>

#include "dptrc/dptrc.h"
#include "mox/context/passport_hex.h"
#include "mox/context/passport_trace_flag.h"

namespace {

// "%8.8X"
void appendHex8(std::u16string& out, uint32_t value) {
  constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0x0F]);
}

uint16_t thresholdForLevel(uint16_t level, const PassportSettings& settings) {
  if (level == 3) return kUnfilteredThreshold;
  if (level == 2) return settings.traceLevelThreshold;
  return settings.levelThreshold;
}

// The GUID line: a GUID still to be generated is made now, so that the line
// names the one the context will keep.
void traceGuidLine(std::u16string& guid) {
  if (TrcLevel.load(std::memory_order_relaxed) < 2) return;
  if (guid.empty()) guid = CreateGuidString();
  MOX_TRC_HOST(2, "GUID=%s\n", trcText(guid).c_str());
}

void readEndToEnd(OwnedPassport passport, const PassportSettings& settings, bool atCreation, PassportReading& r) {
  uint8_t version = 0;
  eppGetVersion(passport.get(), &version);
  r.traceFlag = e2eTraceFlag(passport.get());
  r.traceLevel = TraceLevelFromFlag(r.traceFlag, version);
  if (!readTransactionId(passport.get(), r.transactionId)) {
    MOX_TRC_HOST_ERROR("Epp error encountered when extract the transactionId, use generated GUID instead!\n");
  }
  if (version >= 3) {
    if (readConnectionIds(passport.get(), r.ids)) {
      r.traceGuid = r.ids.rootContextId + r.ids.connectionId;
      appendHex8(r.traceGuid, r.ids.connectionCounter);
    } else {
      MOX_TRC_HOST_ERROR(
          "Epp error encountered when extract the rootContextId/connectionId/connectionCounter, use generated GUID "
          "instead!\n");
    }
  } else {
    r.traceGuid = r.transactionId;  // empty when it could not be read
  }
  r.traceOn = traceModeOf(settings.traceEnabledViaE2e == 1 && r.traceLevel != 0);
  r.passport = std::move(passport);
  if (atCreation && settings.traceEnabledViaE2e == 1) {
    MOX_TRC_HOST(2, "VEL E2E Passport detected, version=%d, level=%d, flag=%d, trace activated=%d\n",
                 static_cast<int>(version), static_cast<int>(r.traceLevel), static_cast<int>(r.traceFlag),
                 static_cast<int>(r.traceOn));
    traceGuidLine(r.traceGuid);
  }
}

void readApplication(std::u16string_view passport, bool atCreation, PassportReading& r) {
  r.traceFlag = applicationTraceFlag(passport);
  r.traceLevel = TraceLevelFromFlag(r.traceFlag, kApplicationPassportVersion);
  const size_t star = passport.find(u'*');
  if (star == std::u16string_view::npos) {
    MOX_TRC_HOST_ERROR("Invalid application passport format encountered, use generated GUID instead!\n");
  } else {
    r.traceGuid.assign(passport.substr(0, star));  // empty: generated
  }
  r.traceOn = traceModeOf(r.traceLevel != 0);
  if (atCreation) {
    MOX_TRC_HOST(2, "Application Passport detected, level=%d, flag=%d, trace activated=%d",
                 static_cast<int>(r.traceLevel), static_cast<int>(r.traceFlag), static_cast<int>(r.traceOn));
    traceGuidLine(r.traceGuid);
  }
}

}  // namespace

PassportReading detectPassport(std::u16string_view passport, const PassportSettings& settings, bool atCreation) {
  PassportReading r;
  if (settings.traceEnabledViaEm == 1) {
    r.traceOn = TraceMode::On;
    r.traceLevelThreshold = settings.traceLevelThreshold;
    if (atCreation) MOX_TRC_HOST(2, "Trace is switched on due to the trace enabling from the EM\n");
    return r;
  }
  if (passport.empty()) {
    r.traceLevelThreshold = settings.levelThreshold;
    return r;
  }
  if (OwnedPassport e2e = ParseE2EPassport(passport)) {
    readEndToEnd(std::move(e2e), settings, atCreation, r);
  } else {
    readApplication(passport, atCreation, r);
  }
  r.traceLevelThreshold = thresholdForLevel(r.traceLevel, settings);
  return r;
}
