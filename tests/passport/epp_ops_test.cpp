// The operations on passports: environment, the common checks in their
// order, field limits, items and parts, the default passport, diagnostics.
#include <gtest/gtest.h>

#include <functional>

#include "epp_test_support.h"
#include "passport/epp_env.h"
#include "passport/epp_record.h"

using namespace epptest;

namespace {

class EppOps : public EppTest {};

const uint32_t kNumber = 42;
const uint8_t kBytes[64] = {1, 2, 3};
const std::u16string kLong(300, u'w');

TEST(EppEnvironmentDeathTest, OperationsAreRefusedUntilTheEnvironmentIsSet) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, without environment
  EXPECT_EXIT(
      {
        EppHandle h = nullptr;
        uint8_t version = 0;
        const bool refused = eppInit(&h) == EPP_FAILED && eppDeserialize(kBytes, 64, &h) == EPP_FAILED &&
                             eppGetVersion(h, &version) == EPP_FAILED &&
                             eppSetEnvironment(8, 3, malloc, nullptr, nullptr, 0) == EPP_INVALID &&
                             eppInit(&h) == EPP_FAILED && h == nullptr;
        std::exit(refused ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(EppOps, EnvironmentOutOfRangeIsRefusedAndLeavesTheOldOne) {
  EXPECT_EQ(eppSetEnvironment(0, 3, countingAlloc, countingFree, nullptr, 0), EPP_INVALID);
  EXPECT_EQ(eppSetEnvironment(10, 3, countingAlloc, countingFree, nullptr, 0), EPP_INVALID);
  EXPECT_EQ(eppSetEnvironment(8, 0, countingAlloc, countingFree, nullptr, 0), EPP_INVALID);
  EXPECT_EQ(eppSetEnvironment(8, 4, countingAlloc, countingFree, nullptr, 0), EPP_INVALID);
  EXPECT_EQ(eppSetEnvironment(8, 3, nullptr, countingFree, nullptr, 0), EPP_INVALID);
  EXPECT_EQ(eppSetEnvironment(8, 3, countingAlloc, nullptr, nullptr, 0), EPP_INVALID);
  EXPECT_EQ(eppSetEnvironment(8, 3, countingAlloc, countingFree, nullptr, -1), EPP_INVALID);
  EXPECT_TRUE(traced("eppSetEnvironment: set component = 8, version = 3, allocFunc = ")) << trace();
  Passport old;
  EXPECT_EQ(old.get()->version, 3);
  EXPECT_EQ(old.get()->component, 8);
  ASSERT_EQ(eppSetEnvironment(2, 1, countingAlloc, countingFree, eppTraceToLibraryLog, 3), EPP_OK);
  Passport fresh;
  EXPECT_EQ(fresh.get()->version, 1);
  EXPECT_EQ(fresh.get()->component, 2);
}

TEST_F(EppOps, HandleIsCheckedBeforeVersionAndVersionBeforeValue) {
  EXPECT_EQ(setText(eppSetClient, nullptr, kLong), EPP_INVALID);
  EXPECT_TRUE(traced("*** ERROR => eppSetClient: passport handle not valid\n"));
  Passport p;
  for (uint8_t bad : {0, 4, 255}) EXPECT_EQ(eppSetVersion(p, bad), EPP_INVALID);
  EXPECT_TRUE(traced("*** ERROR => eppSetVersion: passport version 0 not supported\n"));
  ASSERT_EQ(eppSetVersion(p, 2), EPP_OK);
  EXPECT_EQ(setText(eppSetClient, p, kLong), EPP_VERSION_TOO_LOW);
  EXPECT_EQ(setText(eppSetTransactionId, p, kLong), EPP_OUT_OF_RANGE);
  // A record without its eye-catcher, or with a broken variable part, is no passport.
  p.get()->eyecatcher[1] = 'x';
  EXPECT_EQ(eppSetService(p, 1), EPP_INVALID);
  EXPECT_TRUE(traced("*** ERROR => eppSetService: core part eyecatcher invalid\nM  [Thr " +
                     std::to_string(ThrGetCurrentId()) + "] *** ERROR => eppSetService: passport handle not valid\n"))
      << trace();
  p.get()->eyecatcher[1] = 'T';
  ASSERT_EQ(eppSetVersion(p, 3), EPP_OK);
  ASSERT_EQ(eppSetItem(p, 2, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  p.get()->varParts[0]->eyecatcher[0] = 0;
  EXPECT_EQ(eppSerialize(p, nullptr, 0, nullptr), EPP_INVALID);
  EXPECT_TRUE(traced("*** ERROR => eppSerialize: variable part eyecatcher invalid\n"));
  p.get()->varParts[0]->eyecatcher[0] = '*';
}

TEST_F(EppOps, FieldsNeedTheirVersion) {
  uint8_t id[16] = {};
  uint32_t counter = 0;
  char16_t buffer[32];
  size_t length = 0;
  const std::pair<uint8_t, std::function<int32_t(EppHandle)>> cases[] = {
      {2, [](EppHandle h) { return setText(eppSetTransactionId, h, u"x"); }},
      {2, [&](EppHandle h) { return eppGetTransactionId(h, 32, buffer, &length); }},
      {3, [](EppHandle h) { return setText(eppSetClient, h, u"x"); }},
      {3, [&](EppHandle h) { return eppGetRootContextId(h, id); }},
      {3, [&](EppHandle h) { return eppSetConnectionId(h, id); }},
      {3, [&](EppHandle h) { return eppGetConnectionCounter(h, &counter); }},
      {3, [](EppHandle h) { return eppSetItem(h, 0, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber); }},
      {3, [](EppHandle h) { return eppClearVarPart(h, 0); }},
  };
  for (const auto& [needs, call] : cases) {
    for (uint8_t version = 1; version <= 3; ++version) {
      Passport p;
      ASSERT_EQ(eppSetVersion(p, version), EPP_OK);
      EXPECT_EQ(call(p), version < needs ? EPP_VERSION_TOO_LOW : EPP_OK) << int(needs) << " " << int(version);
    }
  }
  // Written at level 2, not as an error.
  EXPECT_TRUE(traced("M  [Thr " + std::to_string(ThrGetCurrentId()) +
                     "] eppSetClient: this field can only be set for passports with version 3 or higher\n"));
}

TEST_F(EppOps, TextFieldsTakeUpToTheirLimit) {
  const std::tuple<int32_t (*)(EppHandle, const char16_t*, size_t), size_t, const char*> cases[] = {
      {eppSetComponentName, 32, "eppSetComponentName: supplied component name too long\n"},
      {eppSetUserId, 32, "eppSetUserId: supplied user id too long\n"},
      {eppSetAction, 40, "eppSetAction: supplied action field too long\n"},
      {eppSetPreComponentName, 32, "eppSetPreComponentName: supplied previous component name too long\n"},
      {eppSetTransactionId, 32, "eppSetTransactionId: supplied transaction id too long\n"},
      {eppSetClient, 3, "eppSetClient: supplied client field too long\n"},
  };
  Passport p;
  for (const auto& [set, limit, line] : cases) {
    EXPECT_EQ(set(p, kLong.data(), limit), EPP_OK) << line;
    EXPECT_EQ(set(p, kLong.data(), limit + 1), EPP_OUT_OF_RANGE) << line;
    EXPECT_TRUE(traced(std::string("*** ERROR => ") + line)) << line;
    EXPECT_EQ(set(p, nullptr, 1), EPP_INVALID) << line;
  }
  EXPECT_EQ(std::u16string(p.get()->client.chars), u"www");  // the refused value stored nothing
}

TEST_F(EppOps, TransactionIdComesBackBlankFilledWhenItFits) {
  Passport p;
  ASSERT_EQ(setText(eppSetTransactionId, p, u"ABCDE"), EPP_OK);
  char16_t buffer[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  size_t length = 99;
  EXPECT_EQ(eppGetTransactionId(p, 4, buffer, &length), EPP_AREA_TOO_SMALL);
  EXPECT_TRUE(traced("*** ERROR => eppGetTransactionId: supplied output area too small\n"));
  EXPECT_EQ(length, 99u);
  EXPECT_EQ(eppGetTransactionId(p, 7, buffer, &length), EPP_OK);
  EXPECT_EQ(std::u16string(buffer, 8), u"ABCDE  #");  // no terminating zero
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(eppGetTransactionId(p, 7, nullptr, &length), EPP_INVALID);
}

TEST_F(EppOps, SerializeWritesNothingIntoTooSmallAnArea) {
  Passport p;
  ASSERT_EQ(eppSetVersion(p, 1), EPP_OK);
  Bytes area(159, 0x55);
  size_t used = 7;
  EXPECT_EQ(eppSerialize(p, area.data(), area.size(), &used), EPP_AREA_TOO_SMALL);
  EXPECT_EQ(area, Bytes(159, 0x55));
  EXPECT_EQ(used, 7u);
  EXPECT_TRUE(traced("] eppSerialize: supplied output area too small (159 < 160)\n"));  // level 2
  EXPECT_EQ(eppSerialize(p, nullptr, 500, &used), EPP_AREA_TOO_SMALL);
}

TEST_F(EppOps, ItemLengthsAndTypesAreChecked) {
  const std::u16string chars(65, u'c');
  struct Case {
    uint8_t type, length;
    int32_t code;
  };
  Passport p;
  uint16_t application = 0;
  for (const Case& c : {Case{1, 0, 6}, Case{1, 65, 6}, Case{1, 64, 0}, Case{2, 3, 6}, Case{2, 4, 0}, Case{3, 15, 6},
                        Case{3, 16, 0}, Case{4, 0, 6}, Case{4, 65, 6}, Case{4, 64, 0}, Case{5, 4, 7}, Case{0, 4, 7}}) {
    const void* data = c.type == EPP_ITEM_STRING ? static_cast<const void*>(chars.data()) : kBytes;
    EXPECT_EQ(eppSetItem(p, 0, ++application, 1, c.type, c.length, data), c.code)
        << "type " << int(c.type) << " length " << int(c.length);
  }
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: invalid byte stream size (65), maximum size (64)\n"));
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: invalid string length (0), maximum length (64)\n"));
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: unable to set item (rc=6)\n"));
  EXPECT_EQ(eppSetItem(p, 3, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_INVALID);
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: passed variable part id not valid\n"));
  EXPECT_EQ(eppSetItem(p, 0, 99, 1, EPP_ITEM_NUMBER, 4, nullptr), EPP_INVALID);
  EXPECT_EQ(p.get()->varParts[0]->itemCount, 4);
}

TEST_F(EppOps, ItemsAreLimitedPerApplicationAndPart) {
  Passport p;
  for (uint16_t id = 1; id <= 5; ++id) ASSERT_EQ(eppSetItem(p, 1, 7, id, EPP_ITEM_BYTES, 64, kBytes), EPP_OK);
  EXPECT_EQ(eppSetItem(p, 1, 7, 3, EPP_ITEM_NUMBER, 4, &kNumber), EPP_ITEM_EXISTS);
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: item 3 for application 7 already exists\n"));
  EXPECT_EQ(eppSetItem(p, 1, 7, 6, EPP_ITEM_NUMBER, 4, &kNumber), EPP_TOO_MANY_ITEMS);
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: application 7 has reached it's maximum number of items (5)\n"));
  // 24 + 5 * (24 + 64) = 464 bytes used: one number (28) fits, a second does not.
  EXPECT_EQ(eppSetItem(p, 1, 8, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  EXPECT_EQ(eppSetItem(p, 1, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_VARPART_FULL);
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: maximum length of the variable part (512) already reached (2)\n"));
  // Another part has its own room; a third part id finds no slot.
  EXPECT_EQ(eppSetItem(p, 0, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  EXPECT_EQ(eppSetItem(p, 2, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_FAILED);
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: could not create variable part\n"));
  EXPECT_EQ(p.get()->varPartCount, 2);
  // A cleared part frees its slot for another id; clearing a missing one is fine.
  EXPECT_EQ(eppClearVarPart(p, 1), EPP_OK);
  EXPECT_EQ(eppClearVarPart(p, 1), EPP_OK);
  EXPECT_EQ(eppClearVarPart(p, 3), EPP_INVALID);
  EXPECT_EQ(eppSetItem(p, 2, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  EXPECT_EQ(p.get()->varParts[0]->id, 2);
}

TEST_F(EppOps, APartCreatedByAFailingItemIsRemovedAgain) {
  Passport p;
  ASSERT_EQ(eppSetItem(p, 0, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  EXPECT_EQ(eppSetItem(p, 1, 1, 1, EPP_ITEM_NUMBER, 5, &kNumber), EPP_OUT_OF_RANGE);
  EXPECT_EQ(p.get()->varParts[1], nullptr);
  failAllocations = true;
  EXPECT_EQ(eppSetItem(p, 0, 1, 2, EPP_ITEM_NUMBER, 4, &kNumber), EPP_FAILED);  // the existing part stays
  EXPECT_EQ(eppSetItem(p, 2, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_FAILED);
  EXPECT_EQ(p.get()->varPartCount, 1);
  EppHandle none = nullptr;
  EXPECT_EQ(eppInit(&none), EPP_FAILED);
  EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(traced("*** ERROR => eppInit: allocation failed\n"));
  EXPECT_TRUE(traced("*** ERROR => eppInit: could not create passport instance\n"));
}

TEST_F(EppOps, TheFirstLivePassportIsTheDefault) {
  std::atomic<EppPassport*>& current = eppEnv().defaultPassport;
  ASSERT_EQ(current.load(), nullptr);
  {
    Passport first;
    Passport second;
    EXPECT_EQ(current.load(), first.get());
    EXPECT_EQ(eppSetDefault(second), EPP_OK);
    EXPECT_EQ(eppSetDefault(nullptr), EPP_INVALID);
    EXPECT_TRUE(traced("*** ERROR => eppSetDefault: setting new default passport failed\n"));
    EXPECT_EQ(current.load(), second.get());
  }
  EXPECT_EQ(current.load(), nullptr);
}

TEST_F(EppOps, DiagnosticsFollowTheLevelAndAreCutTo255Characters) {
  Passport p;
  ASSERT_EQ(eppSetAction(p, kLong.data(), 250), EPP_OUT_OF_RANGE);
  const std::string written = trace();
  const size_t at = written.find("eppSetAction: setting action field for passport ");
  ASSERT_NE(at, std::string::npos);
  // The cut line loses its line feed: the next line follows on the same one.
  EXPECT_EQ(written.find_first_not_of('w', written.find(" to w", at) + 4) - at, 255u);
  setLevel(1);  // errors only
  ASSERT_EQ(eppSetAction(p, kLong.data(), 41), EPP_OUT_OF_RANGE);
  EXPECT_TRUE(traced("*** ERROR => eppSetAction: supplied action field too long\n"));
  EXPECT_FALSE(traced("setting action field"));
  setLevel(0);
  ASSERT_EQ(eppSetAction(p, kLong.data(), 41), EPP_OUT_OF_RANGE);
  EXPECT_FALSE(traced("eppSetAction"));
}

}  // namespace
