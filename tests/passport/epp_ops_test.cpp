// The operations on passports: the common checks in their order, field
// limits, output areas, items and parts, diagnostics, and GUID texts.
#include <gtest/gtest.h>

#include <tuple>

#include "epp_test_support.h"
#include "passport/epp_guid.h"

using namespace epptest;

namespace {

class EppOps : public EppTest {};

const uint32_t kNumber = 42;
const uint8_t kBytes[64] = {1, 2, 3};
const std::u16string kLong(300, u'w');

TEST_F(EppOps, HandleThenVersionThenValueAreChecked) {
  EXPECT_EQ(setText(eppSetClient, nullptr, kLong), EPP_INVALID);
  Passport p;
  for (uint8_t bad : std::initializer_list<uint8_t>{0, 4, 255}) EXPECT_EQ(eppSetVersion(p, bad), EPP_INVALID);
  uint8_t id[16] = {};
  char16_t buffer[32];
  size_t length = 0;
  ASSERT_EQ(eppSetVersion(p, 1), EPP_OK);
  EXPECT_EQ(setText(eppSetTransactionId, p, kLong), EPP_VERSION_TOO_LOW);
  EXPECT_EQ(eppGetTransactionId(p, 32, buffer, &length), EPP_VERSION_TOO_LOW);
  ASSERT_EQ(eppSetVersion(p, 2), EPP_OK);
  for (int32_t rc : {setText(eppSetClient, p, kLong), eppGetRootContextId(p, id), eppSetConnectionId(p, id),
                     eppGetConnectionCounter(p, nullptr), eppSetItem(p, 0, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber),
                     eppClearVarPart(p, 0)}) {
    EXPECT_EQ(rc, EPP_VERSION_TOO_LOW);
  }
  ASSERT_EQ(eppSetVersion(p, 3), EPP_OK);
  // clang-format off
  for (const auto& [set, limit] : {std::pair{&eppSetComponentName, size_t{32}}, {&eppSetUserId, 32}, {eppSetAction, 40},
                                   {eppSetPreComponentName, 32}, {eppSetTransactionId, 32}, {eppSetClient, 3}}) {
    // clang-format on
    EXPECT_EQ(set(p, kLong.data(), limit), EPP_OK) << limit;
    EXPECT_EQ(set(p, kLong.data(), limit + 1), EPP_OUT_OF_RANGE) << limit;
    EXPECT_EQ(set(p, nullptr, 1), EPP_INVALID) << limit;
  }
  EXPECT_TRUE(traced("*** ERROR => eppSetClient: supplied client field too long\n"));
  EXPECT_EQ(std::u16string(p->client.chars), u"www");  // the refused value stored nothing
}

TEST_F(EppOps, OutputAreasTooSmallAreLeftAlone) {
  Passport p;
  ASSERT_EQ(setText(eppSetTransactionId, p, u"ABCDE"), EPP_OK);
  char16_t buffer[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  size_t length = 99;
  EXPECT_EQ(eppGetTransactionId(p, 4, buffer, &length), EPP_AREA_TOO_SMALL);
  EXPECT_EQ(length, 99u);
  EXPECT_EQ(eppGetTransactionId(p, 7, buffer, &length), EPP_OK);
  EXPECT_EQ(std::u16string(buffer, 8), u"ABCDE  #");  // blank-filled, no terminating zero
  EXPECT_EQ(length, 5u);
  ASSERT_EQ(eppSetVersion(p, 1), EPP_OK);
  Bytes area(159, 0x55);
  EXPECT_EQ(eppSerialize(p, area.data(), area.size(), &length), EPP_AREA_TOO_SMALL);
  EXPECT_EQ(area, Bytes(159, 0x55));
  EXPECT_EQ(length, 5u);
  EXPECT_TRUE(traced("] eppSerialize: supplied output area too small (159 < 160)\n"));  // level 2
  EXPECT_EQ(eppSerialize(p, nullptr, 500, &length), EPP_AREA_TOO_SMALL);
}

TEST_F(EppOps, ItemLengthsTypesAndLimitsAreChecked) {
  const std::u16string chars(65, u'c');
  Passport p;
  uint16_t application = 0;
  // clang-format off
  for (const auto& [type, length, code] : {std::tuple<uint8_t, uint8_t, int32_t>{1, 0, 6}, {1, 65, 6}, {1, 64, 0},
       {2, 3, 6}, {2, 4, 0}, {3, 15, 6}, {3, 16, 0}, {4, 0, 6}, {4, 65, 6}, {4, 64, 0}, {5, 4, 7}, {0, 4, 7}}) {
    // clang-format on
    const void* data = type == EPP_ITEM_STRING ? static_cast<const void*>(chars.data()) : kBytes;
    EXPECT_EQ(eppSetItem(p, 0, ++application, 1, type, length, data), code) << int(type) << " " << int(length);
  }
  EXPECT_EQ(eppSetItem(p, 3, 1, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_INVALID);
  EXPECT_EQ(eppSetItem(p, 0, 99, 1, EPP_ITEM_NUMBER, 4, nullptr), EPP_INVALID);
  EXPECT_EQ(p->varParts[0]->itemCount, 4);
  // Five items per application and part; 512 bytes per part: 24 + 5 * (24 + 64) = 464 leave room for one number.
  for (uint16_t id = 1; id <= 5; ++id) ASSERT_EQ(eppSetItem(p, 1, 7, id, EPP_ITEM_BYTES, 64, kBytes), EPP_OK);
  EXPECT_EQ(eppSetItem(p, 1, 7, 3, EPP_ITEM_NUMBER, 4, &kNumber), EPP_ITEM_EXISTS);
  EXPECT_EQ(eppSetItem(p, 1, 7, 6, EPP_ITEM_NUMBER, 4, &kNumber), EPP_TOO_MANY_ITEMS);
  EXPECT_EQ(eppSetItem(p, 1, 8, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  EXPECT_EQ(eppSetItem(p, 1, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_VARPART_FULL);
  EXPECT_TRUE(traced("*** ERROR => eppSetItem: maximum length of the variable part (512) already reached (2)\n"));
  // A third part id finds no slot until a part is cleared; clearing a missing one is fine.
  EXPECT_EQ(eppSetItem(p, 2, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_FAILED);
  EXPECT_EQ(eppClearVarPart(p, 1), EPP_OK);
  EXPECT_EQ(eppClearVarPart(p, 1), EPP_OK);
  EXPECT_EQ(eppClearVarPart(p, 3), EPP_INVALID);
  EXPECT_EQ(eppSetItem(p, 2, 9, 1, EPP_ITEM_NUMBER, 4, &kNumber), EPP_OK);
  EXPECT_EQ(p->varParts[1]->id, 2);
}

TEST_F(EppOps, DiagnosticsFollowTheLevelAndAreCutTo255Characters) {
  Passport p;
  ASSERT_EQ(eppSetAction(p, kLong.data(), 250), EPP_OUT_OF_RANGE);
  const std::string written = trace();
  const size_t at = written.find("eppSetAction: setting action field for passport ");
  // The cut line loses its line feed: the next line follows on the same one.
  EXPECT_EQ(written.find_first_not_of('w', written.find(" to w", at) + 4) - at, 255u);
  setLevel(1);  // errors only
  ASSERT_EQ(eppSetAction(p, kLong.data(), 41), EPP_OUT_OF_RANGE);
  EXPECT_TRUE(traced("*** ERROR => eppSetAction: supplied action field too long\n"));
  EXPECT_FALSE(traced("setting action field"));
}

// Bit 0x20 of the clock sequence gives E or D; another variant or version is refused, the text left alone.
TEST(EppGuid, UuidFieldsAreRearrangedIntoThirtyTwoDigits) {
  // clang-format off
  for (const auto& [version, variant, guid] : {std::tuple<uint8_t, uint8_t, std::u16string>
       {0x1D, 0xA5, u"0123456789ABDEEFA6D782468ACF053C"}, {0x1D, 0x85, u"0123456789ABDEDFA6D782468ACF053C"},
       {0x1D, 0xC5, u"-"}, {0x4D, 0x85, u"-"}}) {
    // clang-format on
    const uint8_t u[16] = {0x12,    0x34, 0x56, 0x78, 0x9A, 0xBC, version, 0xEF,
                           variant, 0x3C, 0x01, 0x23, 0x45, 0x67, 0x89,    0xAB};
    std::u16string made = u"-";
    EXPECT_EQ(eppGuidFromUuid(u, made), guid != u"-") << int(version) << " " << int(variant);
    EXPECT_EQ(made, guid);
  }
}

}  // namespace
