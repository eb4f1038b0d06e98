// GUID texts: the rearrangement of a UUID, and the shape of created GUIDs.
#include "passport/epp_guid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "passport/epp.h"

namespace {

TEST(EppGuid, UuidFieldsAreRearrangedIntoThirtyTwoDigits) {
  uint8_t u[16] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x1D, 0xEF, 0xA5, 0x3C, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  std::u16string guid;
  ASSERT_TRUE(eppGuidFromUuid(u, guid));
  EXPECT_EQ(guid, u"0123456789ABDEEFA6D782468ACF053C");
  u[8] = 0x85;  // clock sequence without bit 0x20: D instead of E
  ASSERT_TRUE(eppGuidFromUuid(u, guid));
  EXPECT_EQ(guid, u"0123456789ABDEDFA6D782468ACF053C");
  // Another variant or version is refused and leaves the text alone.
  u[8] = 0xC5;
  EXPECT_FALSE(eppGuidFromUuid(u, guid));
  u[8] = 0x85;
  u[6] = 0x4D;
  EXPECT_FALSE(eppGuidFromUuid(u, guid));
  EXPECT_EQ(guid, u"0123456789ABDEDFA6D782468ACF053C");
}

TEST(EppGuid, CreatedGuidsAreUpperHexWithFixedDigitRangesAndUnique) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::u16string guid = CreateGuidString();
    ASSERT_EQ(guid.size(), 32u);
    for (char16_t c : guid) ASSERT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'));
    ASSERT_TRUE(guid[14] == u'D' || guid[14] == u'E');
    ASSERT_TRUE(guid[16] >= u'8' && guid[16] <= u'B');
    ASSERT_TRUE((guid[18] >= u'8' && guid[18] <= u'9') || (guid[18] >= u'A' && guid[18] <= u'F'));
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

}  // namespace
