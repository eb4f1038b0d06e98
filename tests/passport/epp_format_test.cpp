// The network form: layouts of the three versions, variable parts and items, and round trips through eppSerialize and
// eppDeserialize.
#include <gtest/gtest.h>

#include <cstring>

#include "epp_test_support.h"

using namespace epptest;

namespace {

class EppFormat : public EppTest {
 protected:
  // A passport of the given version with every core field set; the ids are 00..0F and F0..FF.
  void fill(EppHandle h, uint8_t version) {
    ASSERT_EQ(eppSetVersion(h, 3), EPP_OK);
    const uint8_t flag[2] = {0x9F, 0x0D};
    ASSERT_EQ(eppSetTraceFlag(h, flag), EPP_OK);
    // 20 two-byte characters, of which 16 fit; 31 ASCII and a three-byte one that does not fit.
    ASSERT_EQ(setText(eppSetComponentName, h, std::u16string(20, u'\u00E9')), EPP_OK);
    ASSERT_EQ(setText(eppSetUserId, h, std::u16string(31, u'x') + u"\u20AC"), EPP_OK);
    ASSERT_EQ(eppSetService(h, 0x1234), EPP_OK);
    ASSERT_EQ(setText(eppSetAction, h, u"GET /orders"), EPP_OK);
    ASSERT_EQ(eppSetActionType(h, 0xBEEF), EPP_OK);
    ASSERT_EQ(setText(eppSetPreComponentName, h, u"front"), EPP_OK);
    ASSERT_EQ(setText(eppSetTransactionId, h, std::u16string(32, u'T')), EPP_OK);  // no zero byte after it
    ASSERT_EQ(setText(eppSetClient, h, u"100"), EPP_OK);
    ASSERT_EQ(eppSetComponent(h, 5), EPP_OK);
    uint8_t root[16], connection[16];
    for (uint8_t i = 0; i < 16; ++i) root[i] = i, connection[i] = static_cast<uint8_t>(0xF0 + i);
    ASSERT_EQ(eppSetRootContextId(h, root), EPP_OK);
    ASSERT_EQ(eppSetConnectionId(h, connection), EPP_OK);
    ASSERT_EQ(eppSetConnectionCounter(h, 0x01020304), EPP_OK);
    ASSERT_EQ(eppSetVersion(h, version), EPP_OK);
  }

  EppHandle read(const Bytes& stream) {
    EppHandle h = nullptr;
    EXPECT_EQ(eppDeserialize(stream.data(), stream.size(), &h), EPP_OK) << trace();
    if (h == nullptr) eppInit(&h);  // an empty one: the checks fail instead of crashing
    return h;
  }
};

TEST_F(EppFormat, EachVersionHasItsLayoutAndComesBackWhole) {
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "\xC3\xA9";
  for (const auto& [version, size] : {std::pair<uint8_t, size_t>{1, 160}, {2, 185}, {3, 230}}) {
    SCOPED_TRACE(version);
    Passport p;
    fill(p, version);
    const Bytes b = serialize(p);
    ASSERT_EQ(b.size(), size);
    EXPECT_EQ(text(b, 0, 4) + text(b, size - 4, 4), "*TH**TH*");
    EXPECT_EQ(b[4], version);
    EXPECT_EQ(get16(b, 5), size);
    EXPECT_EQ(get16(b, 7), 0x9F0D);  // the trace flag keeps its byte order
    // Text is cut at whole characters, a blank for the one that does not fit, and blank-padded.
    EXPECT_EQ(text(b, 9, 32), sixteen);
    EXPECT_EQ(get16(b, 41), 0x1234);
    EXPECT_EQ(text(b, 43, 32), std::string(31, 'x') + " ");
    EXPECT_EQ(text(b, 75, 40), "GET /orders" + std::string(29, ' '));
    EXPECT_EQ(get16(b, 115), 0xBEEF);
    EXPECT_EQ(text(b, 117, 32), "front" + std::string(27, ' '));
    const bool v1 = version == 1;  // seven zero bytes, or the transaction id
    EXPECT_EQ(text(b, 149, v1 ? 7 : 32), std::string(v1 ? 7 : 32, v1 ? '\0' : 'T'));
    if (version == 3) {
      Bytes tail = {'1', '0', '0', 0, 5};
      for (uint8_t i = 0; i < 32; ++i) tail.push_back(i < 16 ? i : static_cast<uint8_t>(0xE0 + i));
      tail.insert(tail.end(), {1, 2, 3, 4, 0, 0, 0, 226});  // counter, no parts, the first one at 226
      EXPECT_EQ(Bytes(b.begin() + 181, b.end() - 4), tail);
    }
    // Each field is read within its bounds (the service number follows the name), blanks kept.
    Passport back(read(b));
    EXPECT_EQ(std::u16string(back->componentName.chars), std::u16string(16, u'\u00E9'));
    EXPECT_EQ(std::u16string(back->preComponentName.chars), u"front" + std::u16string(27, u' '));
    EXPECT_EQ(std::u16string(back->transactionId.chars), v1 ? u"" : std::u16string(32, u'T'));
    EXPECT_EQ(serialize(back), b);
  }
}

TEST_F(EppFormat, PartsAndItemsOfEveryTypeAreWrittenInSlotOrderAndComeBackTyped) {
  Passport p;
  const uint32_t number = 0x01020304;
  ASSERT_EQ(eppSetItem(p, 1, 7, 9, EPP_ITEM_NUMBER, 4, &number), EPP_OK);
  const Bytes one = serialize(p);
  // clang-format off
  EXPECT_EQ(Bytes(one.begin() + 222, one.end()), (Bytes{0, 1, 0, 226,         // count, offset
                                                         '*', 'T', 'H', '*', 1, 0, 23, 1, 0, 1, 0, 1,  // last, id 1
                                                         0, 7, 0, 9, 2, 0, 11, 1, 2, 3, 4, '*', 'T', 'H', '*'}));
  // clang-format on
  const uint8_t bytes[2] = {0xAB, 0xCD};
  const uint8_t id[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                          0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
  const std::u16string word = u"gr\u00FC\u00DFe";                       // 5 characters, 7 bytes of UTF-8: written whole
  ASSERT_EQ(eppSetItem(p, 0, 3, 3, EPP_ITEM_BYTES, 2, bytes), EPP_OK);  // the free slot, after the first
  ASSERT_EQ(eppSetItem(p, 0, 3, 4, EPP_ITEM_ID16, 16, id), EPP_OK);
  ASSERT_EQ(eppSetItem(p, 0, 8, 1, EPP_ITEM_STRING, 5, word.data()), EPP_OK);
  const Bytes two = serialize(p);
  ASSERT_EQ(two.size(), 230u + 23 + 12 + 9 + 23 + 14);
  EXPECT_EQ(Bytes({two[226 + 7], two[226 + 9], two[249 + 7], two[249 + 9]}), (Bytes{0, 1, 1, 0}));  // last, id
  EXPECT_EQ(Bytes(two.begin() + 249 + 12, two.begin() + 249 + 21), (Bytes{0, 3, 0, 3, 1, 0, 9, 0xAB, 0xCD}));
  EXPECT_EQ(text(two, two.size() - 11, 7), std::string("gr\xC3\xBC\xC3\x9F") + "e");
  Passport back(read(two));
  EXPECT_EQ(serialize(back), two);
  uint32_t value = 0;
  std::memcpy(&value, back->varParts[0]->first->data(), 4);
  EXPECT_EQ(value, 0x01020304u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(back->varParts[1]->last->data())), word);
  ASSERT_EQ(eppClearVarPart(p, 1), EPP_OK);  // the remaining part is not in the slot of the count
  EXPECT_EQ(serialize(p)[226 + 7], 0);
}

// A zero byte ends a field early; a higher version byte reads as 3; a longer stream is read up to the passport's own
// length; parts of a later part version are skipped, items of unknown types too.
TEST_F(EppFormat, StreamsFromOtherWritersAreReadWithinTheirBounds) {
  Passport p;
  fill(p, 3);
  const uint32_t number = 1;
  ASSERT_EQ(eppSetItem(p, 1, 1, 1, EPP_ITEM_NUMBER, 4, &number), EPP_OK);
  Bytes b = serialize(p);
  b[9 + 2] = 0;
  b[4] = 7;
  b.resize(b.size() + 10, 0xEE);
  for (const auto& [at, value, parts] : {std::tuple<size_t, uint8_t, int>{0, '*', 1}, {230, 2, 0}, {242, 9, 0}}) {
    Bytes changed = b;
    changed[at] = value;
    Passport back(read(changed));
    EXPECT_EQ(back->version, 3);
    EXPECT_EQ(std::u16string(back->componentName.chars), u"\u00E9");
    EXPECT_EQ(back->varPartCount, parts) << at;
  }
}

}  // namespace
