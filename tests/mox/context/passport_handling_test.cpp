// Passports below the exports: the hexadecimal form with hostile texts, flags
// and levels, detection, and the passport handed on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "mox/context/context_passport.h"
#include "mox/context/context_test_support.h"
#include "mox/context/passport_detection.h"
#include "mox/context/passport_hex.h"
#include "mox/context/passport_outgoing.h"
#include "mox/context/passport_trace_flag.h"
#include "passport/epp_library_trace.h"
#include "support/wire_passport.h"

using namespace ctxtest;

namespace {

using Bytes = std::vector<uint8_t>;

using testsupport::wirePassport;

class PassportHandlingTest : public ContextTest {
 protected:
  void SetUp() override {
    ContextTest::SetUp();
    start();
    ASSERT_EQ(eppSetEnvironment(8, 3, std::malloc, std::free, eppTraceToLibraryLog, 1), EPP_OK);
  }
  size_t logged(const std::string& text) const { return countOf(traceLog(), text); }
};

TEST_F(PassportHandlingTest, HexConversionStaysInsideTextAndBuffer) {
  const std::tuple<std::u16string, size_t, Bytes> cases[] = {
      {u"2A54FF", 3, {0x2A, 0x54, 0xFF}},
      {u"2A5", 2, {0x2A, 0}},
      {u"2A5g1B", 3, {0x2A, 0, 0}},
      {u"2a54", 2, {0, 0}},
      {u"", 2, {0, 0}},
      {u"\u00C42A", 2, {0, 0}},
      {u"0123456789ABCDEF", 1, {0x01}},
  };
  for (auto [text, count, expected] : cases) {
    Bytes buffer(count + 2, 0xEE);  // the two after count must stay untouched
    HexToBytes(text, buffer.data(), count);
    expected.insert(expected.end(), {0xEE, 0xEE});
    EXPECT_EQ(buffer, expected) << utf16ToUtf8Lenient(text);
  }
}

TEST_F(PassportHandlingTest, OnlyAnUpperCaseHexPassportFramedByItsMarkersIsRead) {
  // Lower-case texts are shown through the exports.
  const std::u16string v3 = wirePassport(3, 0);
  const std::u16string odd = v3.substr(0, 8) + u"0" + v3.substr(8);
  const std::tuple<std::u16string, bool, size_t> cases[] = {
      // text, read, bad-format lines
      {v3, true, 0},           {wirePassport(1, 0), true, 0}, {odd, false, 1},
      {u"2A54482A", false, 1}, {v3 + u"00", false, 0},        {u"*TH*", false, 0},
  };
  size_t expectedLines = 0;
  for (const auto& [text, read, lines] : cases) {
    EXPECT_EQ(ParseE2EPassport(text) != nullptr, read) << utf16ToUtf8Lenient(text);
    expectedLines += lines;
    EXPECT_EQ(logged("Bad VEL passport format, deserialization failed!"), expectedLines);
  }
}

TEST_F(PassportHandlingTest, TraceLevelTablesAndFlagReading) {
  const std::pair<uint16_t, uint16_t> v3[] = {{0, 0}, {1, 1}, {2696, 1}, {2697, 2}, {3486, 2}, {3487, 3}, {65535, 3}};
  const std::pair<uint16_t, uint16_t> others[] = {{8, 0}, {9, 1}, {924, 1}, {925, 2}, {1534, 2}, {1535, 3}};
  for (auto [flag, level] : v3) EXPECT_EQ(TraceLevelFromFlag(flag, 3), level) << flag;
  for (uint8_t version : std::initializer_list<uint8_t>{0, 1, 2}) {
    for (auto [flag, level] : others) EXPECT_EQ(TraceLevelFromFlag(flag, version), level) << flag;
  }

  const std::pair<std::u16string, uint16_t> texts[] = {{u"G*1000", 1000},
                                                       {u"G* \t+925x", 925},
                                                       {u"G*-1", 65535},
                                                       {u"G*", 0},
                                                       {u"G*abc", 0},
                                                       {u"G*1*2", 1},
                                                       {u"G*99999999999999999999", 65535},
                                                       {u"G*-99999999999", 0},
                                                       {u"G*65536", 0}};
  for (const auto& [text, flag] : texts) EXPECT_EQ(applicationTraceFlag(text), flag) << utf16ToUtf8Lenient(text);
}

// "flag/level/traced/threshold/guid/e2e" of a detection, compared in one line.
std::string summary(const PassportReading& r) {
  return std::to_string(r.traceFlag) + "/" + std::to_string(r.traceLevel) + "/" + std::to_string(int(r.traceOn)) + "/" +
         std::to_string(r.traceLevelThreshold) + "/" + utf16ToUtf8Lenient(r.traceGuid) + (r.passport ? "/e2e" : "/");
}

// The switches and the threshold a context times against (an empty GUID is
// generated when read); the exports' tests show the common cases.
TEST_F(PassportHandlingTest, DetectionTakesFlagLevelSwitchThresholdAndGuid) {
  EXPECT_EQ(summary(detectPassport(u"*1535", {0, 1, 10, 20}, false)), "1535/3/1/65535//");
  EXPECT_EQ(summary(detectPassport(u"ABC*1000", {1, 1, 10, 20}, false)), "0/0/1/20//");  // via EM: not read
  EXPECT_EQ(summary(detectPassport(wirePassport(3, 2697), {0, 0, 10, 20}, false)),
            "2697/2/0/20/101112131415161718191A1B1C1D1E1FC0C1C2C3C4C5C6C7C8C9CACBCCCDCECF00000007/e2e");
  EXPECT_EQ(logged("Passport detected"), 0u);  // only at the creation of a context
}

TEST_F(PassportHandlingTest, OutgoingPassportFillsTheConnectionIdWithZerosAndRaisesVersion2) {
  // The connection id: zeros when not given, never more than 16 bytes read or set.
  const std::vector<std::pair<std::u16string, std::string>> ids = {
      {u"", std::string(32, '0')},
      {std::u16string(40, u'E'), std::string(32, 'E')},
  };
  for (const auto& [text, expected] : ids) {
    OwnedPassport passport;
    const std::u16string hex = BuildOutgoingPassport(passport, text, 5, 1, u"sys-proc-host");
    ASSERT_EQ(hex.size(), 2 * EPP_V3_SIZE);
    EXPECT_EQ(hex.substr(14, 4), u"0F00");                         // a new passport: flag 15
    EXPECT_EQ(utf16ToUtf8Lenient(hex.substr(404, 32)), expected);  // connection id at 202
    EXPECT_EQ(hex.substr(436, 8), u"00000005");
  }
  // Version 2 becomes 3 with the flag of the level; 1 and 3 keep theirs.
  const std::vector<std::tuple<uint8_t, int16_t, std::u16string, std::u16string>> versions = {
      {2, 1, u"03", u"0000"}, {2, 2, u"03", u"890A"}, {2, 3, u"03", u"9F0D"},
      {2, 9, u"03", u"0000"}, {3, 3, u"03", u"D204"}, {1, 3, u"01", u"D204"}};
  for (const auto& [version, level, outVersion, outFlag] : versions) {
    OwnedPassport passport = ParseE2EPassport(wirePassport(version, 1234));
    const std::u16string hex = BuildOutgoingPassport(passport, std::u16string(32, u'C'), 0, level, u"p");
    EXPECT_EQ(hex.substr(8, 2), outVersion);
    EXPECT_EQ(hex.substr(14, 4), outFlag);
    EXPECT_EQ(hex.size(), 2 * (version == 1 ? EPP_V1_SIZE : EPP_V3_SIZE));
  }
  EXPECT_EQ(previousComponentName(u"VEL_MOX", u"orders", u"a-very-long-host-name.example"),
            u"VEL_MOX-orders-a-very-long-host-");
}

TEST_F(PassportHandlingTest, ReinitialisationKeepsNothingOfTheEarlierPassportButItsOutgoingConnection) {
  CMTContextManager& manager = start({{u"trace_enabled_via_em", u"0"}, {u"trace_enabled_via_e2e", u"1"}});
  manager.initContext(u"k", wirePassport(3, 3487));
  const std::u16string first = contextOutgoingPassport(*manager.findContext(u"k").get());
  manager.initContext(u"k", u"G*1000");
  ContextRef context = manager.findContext(u"k");
  for (uint16_t element : std::initializer_list<uint16_t>{1, 2, 3})
    EXPECT_EQ(contextPassportElement(*context.get(), element), u"") << element;
  EXPECT_EQ(contextPassportElement(*context.get(), 4), u"0");
  // The passport handed on now starts afresh, on the connection of the context.
  const std::u16string again = contextOutgoingPassport(*context.get());
  EXPECT_EQ(again.substr(404, 40), first.substr(404, 32) + u"00000000");
}

}  // namespace
