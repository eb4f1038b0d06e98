// The network form: layouts of the three versions, variable parts and items,
// and round trips through eppSerialize and eppDeserialize.
#include <gtest/gtest.h>

#include <cstring>

#include "epp_test_support.h"
#include "passport/epp_record.h"

using namespace epptest;

namespace {

const std::string kTH = "*TH*";

class EppFormat : public EppTest {
 protected:
  // A passport of the given version with every core field set.
  void fill(EppHandle h, uint8_t version) {
    ASSERT_EQ(eppSetVersion(h, 3), EPP_OK);
    const uint8_t flag[2] = {0x9F, 0x0D};
    ASSERT_EQ(eppSetTraceFlag(h, flag), EPP_OK);
    ASSERT_EQ(setText(eppSetComponentName, h, u"abc"), EPP_OK);
    ASSERT_EQ(eppSetService(h, 0x1234), EPP_OK);
    ASSERT_EQ(setText(eppSetUserId, h, u"user"), EPP_OK);
    ASSERT_EQ(setText(eppSetAction, h, u"GET /orders"), EPP_OK);
    ASSERT_EQ(eppSetActionType(h, 0xBEEF), EPP_OK);
    ASSERT_EQ(setText(eppSetPreComponentName, h, u"front"), EPP_OK);
    ASSERT_EQ(setText(eppSetTransactionId, h, u"TX-1"), EPP_OK);
    ASSERT_EQ(setText(eppSetClient, h, u"100"), EPP_OK);
    ASSERT_EQ(eppSetComponent(h, 5), EPP_OK);
    uint8_t root[16], connection[16];
    for (uint8_t i = 0; i < 16; ++i) root[i] = i, connection[i] = static_cast<uint8_t>(0xF0 + i);
    ASSERT_EQ(eppSetRootContextId(h, root), EPP_OK);
    ASSERT_EQ(eppSetConnectionId(h, connection), EPP_OK);
    ASSERT_EQ(eppSetConnectionCounter(h, 0x01020304), EPP_OK);
    ASSERT_EQ(eppSetVersion(h, version), EPP_OK);
  }

  // Every item type, in two parts (ids 0 and 2).
  void addItems(EppHandle h) {
    const uint8_t bytes[3] = {1, 0, 2};
    const uint32_t number = 0xCAFEF00D;
    uint8_t id[16];
    for (uint8_t i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(0xA0 + i);
    const std::u16string word = u"gr\u00FC\u00DFe";  // 5 characters, 7 bytes of UTF-8
    ASSERT_EQ(eppSetItem(h, 0, 7, 1, EPP_ITEM_BYTES, 3, bytes), EPP_OK);
    ASSERT_EQ(eppSetItem(h, 0, 7, 2, EPP_ITEM_NUMBER, 4, &number), EPP_OK);
    ASSERT_EQ(eppSetItem(h, 2, 8, 1, EPP_ITEM_ID16, 16, id), EPP_OK);
    ASSERT_EQ(eppSetItem(h, 2, 8, 2, EPP_ITEM_STRING, static_cast<uint8_t>(word.size()), word.data()), EPP_OK);
  }

  EppHandle read(const Bytes& stream) {
    EppHandle h = nullptr;
    EXPECT_EQ(eppDeserialize(stream.data(), stream.size(), &h), EPP_OK) << trace();
    return h;
  }
};

TEST_F(EppFormat, EachVersionHasItsLayoutAndLength) {
  struct Case {
    uint8_t version;
    size_t size;
    size_t trailer;
  };
  for (const Case c : {Case{1, 160, 156}, Case{2, 185, 181}, Case{3, 230, 226}}) {
    SCOPED_TRACE(c.version);
    Passport p;
    fill(p, c.version);
    size_t needed = 0;
    ASSERT_EQ(eppNeededNetworkSize(p, &needed), EPP_OK);
    const Bytes b = serialize(p);
    ASSERT_EQ(b.size(), c.size);
    EXPECT_EQ(needed, c.size);
    EXPECT_EQ(text(b, 0, 4), kTH);
    EXPECT_EQ(text(b, c.trailer, 4), kTH);
    EXPECT_EQ(b[4], c.version);
    EXPECT_EQ(get16(b, 5), c.size);
    EXPECT_EQ(b[7], 0x9F);  // the trace flag keeps its byte order
    EXPECT_EQ(b[8], 0x0D);
    EXPECT_EQ(text(b, 9, 32), "abc" + std::string(29, ' '));
    EXPECT_EQ(get16(b, 41), 0x1234);
    EXPECT_EQ(text(b, 43, 32), "user" + std::string(28, ' '));
    EXPECT_EQ(text(b, 75, 40), "GET /orders" + std::string(29, ' '));
    EXPECT_EQ(get16(b, 115), 0xBEEF);
    EXPECT_EQ(text(b, 117, 32), "front" + std::string(27, ' '));
    if (c.version == 1) {
      EXPECT_EQ(Bytes(b.begin() + 149, b.begin() + 156), Bytes(7, 0));
    } else {
      EXPECT_EQ(text(b, 149, 32), "TX-1" + std::string(28, ' '));
    }
    if (c.version == 3) {
      EXPECT_EQ(text(b, 181, 3), "100");
      EXPECT_EQ(get16(b, 184), 5);
      EXPECT_EQ(b[186], 0x00);
      EXPECT_EQ(b[201], 0x0F);
      EXPECT_EQ(b[202], 0xF0);
      EXPECT_EQ(b[217], 0xFF);
      EXPECT_EQ(Bytes(b.begin() + 218, b.begin() + 226), (Bytes{1, 2, 3, 4, 0, 0, 0, 226}));
    }
  }
}

TEST_F(EppFormat, VariablePartsAndItemsAreWrittenInSlotOrder) {
  Passport p;
  const uint32_t number = 0x01020304;
  ASSERT_EQ(eppSetItem(p, 1, 7, 9, EPP_ITEM_NUMBER, 4, &number), EPP_OK);
  const Bytes one = serialize(p);
  ASSERT_EQ(one.size(), 230u + 12 + 7 + 4);
  EXPECT_EQ(Bytes(one.begin() + 222, one.begin() + 226), (Bytes{0, 1, 0, 226}));
  const Bytes part(one.begin() + 226, one.end() - 4);
  EXPECT_EQ(part, (Bytes{'*', 'T', 'H', '*', 1, 0, 23, 1, 0, 1, 0, 1,  // header: last of one part
                         0,   7,   0,   9,   2, 0, 11, 1, 2, 3, 4}));
  // A second part goes to the free slot; only the slot numbered as the count is marked last.
  const uint8_t bytes[2] = {0xAB, 0xCD};
  ASSERT_EQ(eppSetItem(p, 0, 3, 3, EPP_ITEM_BYTES, 2, bytes), EPP_OK);
  const Bytes two = serialize(p);
  EXPECT_EQ(get16(two, 222), 2);
  EXPECT_EQ(two[226 + 7], 0);
  EXPECT_EQ(get16(two, 226 + 8), 1);
  EXPECT_EQ(two[249 + 7], 1);
  EXPECT_EQ(get16(two, 249 + 8), 0);
  EXPECT_EQ(Bytes(two.begin() + 249 + 12, two.end() - 4), (Bytes{0, 3, 0, 3, 1, 0, 9, 0xAB, 0xCD}));
  // With the first slot cleared, the remaining part is not in the slot of the count.
  ASSERT_EQ(eppClearVarPart(p, 1), EPP_OK);
  const Bytes left = serialize(p);
  EXPECT_EQ(left.size(), 230u + 12 + 9);
  EXPECT_EQ(left[226 + 7], 0);
}

TEST_F(EppFormat, RoundTripKeepsEveryFieldOfEveryVersion) {
  for (uint8_t version = 1; version <= 3; ++version) {
    SCOPED_TRACE(version);
    Passport p;
    fill(p, version);
    if (version == 3) addItems(p);
    const Bytes first = serialize(p);
    Passport back(read(first));
    ASSERT_NE(back.get(), nullptr);
    EXPECT_EQ(serialize(back), first);
    EXPECT_EQ(back.get()->version, version);
    // Strings come back with their blanks; the items in their parts, typed.
    EXPECT_EQ(std::u16string(back.get()->componentName.chars), u"abc" + std::u16string(29, u' '));
    if (version < 3) continue;
    const EppPassport& r = *back.get();
    EXPECT_EQ(std::u16string(r.client.chars), u"100");
    EXPECT_EQ(r.connectionCounter, 0x01020304u);
    ASSERT_EQ(r.varPartCount, 2);
    uint32_t value = 0;
    std::memcpy(&value, r.varParts[0]->first->next->data(), 4);
    EXPECT_EQ(value, 0xCAFEF00Du);
    const EppItem* word = r.varParts[1]->first->next;
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(word->data())), u"gr\u00FC\u00DFe");
  }
}

TEST_F(EppFormat, WideTextIsCutAtWholeCharactersAndReadWithinItsField) {
  Passport p;
  // 20 two-byte characters: 16 fit the 32-byte field exactly.
  ASSERT_EQ(setText(eppSetComponentName, p, std::u16string(20, u'\u00E9')), EPP_OK);
  // 31 ASCII characters and a three-byte one that does not fit: a blank instead.
  ASSERT_EQ(setText(eppSetUserId, p, std::u16string(31, u'x') + u"\u20AC"), EPP_OK);
  ASSERT_EQ(eppSetService(p, 0x4142), EPP_OK);  // non-zero bytes right after the name
  // String items are written whole, however many bytes their characters take.
  const std::u16string euros = u"\u20AC\u20AC";
  ASSERT_EQ(eppSetItem(p, 0, 1, 1, EPP_ITEM_STRING, 2, euros.data()), EPP_OK);
  const Bytes b = serialize(p);
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "\xC3\xA9";
  EXPECT_EQ(text(b, 9, 32), sixteen);
  EXPECT_EQ(text(b, 43, 32), std::string(31, 'x') + " ");
  EXPECT_EQ(get16(b, 226 + 5), 12 + 7 + 6);
  EXPECT_EQ(text(b, 226 + 12 + 7, 6), "\xE2\x82\xAC\xE2\x82\xAC");
  // Reading stops at the field's end, not in the service number behind it.
  Passport back(read(b));
  EXPECT_EQ(std::u16string(back.get()->componentName.chars), std::u16string(16, u'\u00E9'));
  EXPECT_EQ(std::u16string(back.get()->userId.chars), std::u16string(31, u'x') + u" ");
}

TEST_F(EppFormat, StreamsFromOtherWritersAreReadWithinTheirBounds) {
  Passport p;
  fill(p, 2);
  ASSERT_EQ(setText(eppSetTransactionId, p, std::u16string(32, u'T')), EPP_OK);
  Bytes v2 = serialize(p);
  // A full transaction id runs into the trailing eye-catcher without a zero byte.
  Passport back(read(v2));
  size_t length = 0;
  char16_t id[32];
  ASSERT_EQ(eppGetTransactionId(back, 32, id, &length), EPP_OK);
  EXPECT_EQ(std::u16string(id, length), std::u16string(32, u'T'));
  // A zero byte ends a field early; a higher version byte reads as 3; a
  // longer stream is read up to the passport's own length.
  fill(p, 3);
  Bytes v3 = serialize(p);
  v3[9 + 2] = 0;
  v3[4] = 7;
  v3.resize(v3.size() + 10, 0xEE);
  Passport seven(read(v3));
  uint8_t version = 0;
  ASSERT_EQ(eppGetVersion(seven, &version), EPP_OK);
  EXPECT_EQ(version, 3);
  EXPECT_EQ(std::u16string(seven.get()->componentName.chars), u"ab");
  // Parts of a later part version are skipped, items of unknown types too.
  const uint32_t number = 1;
  ASSERT_EQ(eppSetItem(p, 1, 1, 1, EPP_ITEM_NUMBER, 4, &number), EPP_OK);
  Bytes withPart = serialize(p);
  withPart[226 + 4] = 2;
  Passport skipped(read(withPart));
  EXPECT_EQ(skipped.get()->varPartCount, 0);
  withPart[226 + 4] = 1;
  withPart[226 + 12 + 4] = 9;
  Passport unknown(read(withPart));
  EXPECT_EQ(unknown.get()->varPartCount, 0);
}

}  // namespace
