// Streams eppDeserialize must refuse: each with its code and diagnostic, no passport handed out and none left behind.
// The streams are exact-size heap buffers, so a read past one shows up under AddressSanitizer.
#include <gtest/gtest.h>

#include <initializer_list>

#include "epp_test_support.h"

using namespace epptest;

namespace {

// An item on the network: header and data.
Bytes item(uint16_t app, uint16_t id, uint8_t type, const Bytes& data) {
  Bytes b = {0, 0, 0, 0, type, 0, 0};
  put16(b, 0, app);
  put16(b, 2, id);
  put16(b, 5, static_cast<uint16_t>(7 + data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes part(uint16_t id, std::initializer_list<Bytes> items) {
  Bytes b = {'*', 'T', 'H', '*', 1, 0, 0, 0, 0, 0, 0, 0};
  put16(b, 8, id);
  put16(b, 10, static_cast<uint16_t>(items.size()));
  for (const Bytes& i : items) b.insert(b.end(), i.begin(), i.end());
  put16(b, 5, static_cast<uint16_t>(b.size()));
  return b;
}

// A version 3 stream of an empty passport with these parts inserted.
Bytes withParts(std::initializer_list<Bytes> parts) {
  Passport p;
  Bytes b = serialize(p);
  b.resize(226);
  for (const Bytes& one : parts) b.insert(b.end(), one.begin(), one.end());
  b.insert(b.end(), {'*', 'T', 'H', '*'});
  put16(b, 5, static_cast<uint16_t>(b.size()));
  put16(b, 222, static_cast<uint16_t>(parts.size()));
  return b;
}

// Part at 226: a number item at 238 (data at 245), a byte item at 249 (data at 256); the part ends at 258, the stream
// at 262.
Bytes standard() { return withParts({part(1, {item(7, 9, 2, {0, 0, 1, 0}), item(7, 10, 1, {0xAB, 0xCD})})}); }

Bytes version(uint8_t v) {
  Passport p;
  EXPECT_EQ(eppSetVersion(p, v), EPP_OK);
  return serialize(p);
}

Bytes set8(Bytes b, size_t at, uint8_t value) {
  b[at] = value;
  return b;
}
Bytes set16(Bytes b, size_t at, uint16_t value) {
  put16(b, at, value);
  return b;
}

struct Case {
  const char* name;
  Bytes stream;
  int32_t code;
  const char* line;  // the end of the error line
};

class EppRefusal : public EppTest {};

TEST_F(EppRefusal, MalformedStreamsAreRefusedWithTheirCodeAndLine) {
  const Bytes v1 = version(1), v2 = version(2), ok = standard(), n = item(1, 1, 2, {0, 0, 0, 1});
  // clang-format off
  const Case cases[] = {
      {"159 bytes", Bytes(v1.begin(), v1.end() - 1), EPP_INVALID, "eppDeserialize: data stream invalid, not long enough (159)\n"},
      {"inconsistent length", set16(v1, 5, 185), EPP_INVALID, "length of passport and bytestream (185 > 160)"},
      {"negative length", set16(v1, 5, 0x8000), EPP_INVALID, "bytestream (18446744073709518848 > 160)"},
      {"length below the headers", set16(v1, 5, 3), EPP_INVALID, "not long enough (3)\n"},
      {"leading eye-catcher", set8(v1, 1, 'X'), EPP_INVALID, "could not find valid leading eyecatcher\n"},
      {"trailing eye-catcher", set8(v2, 183, 'X'), EPP_INVALID, "could not find valid trailing eyecatcher\n"},
      {"version 0", set8(v1, 4, 0), EPP_INVALID, "eppSetVersion: passport version 0 not supported\n"},
      {"version 2 in 160 bytes", set8(v1, 4, 2), EPP_INVALID, "not long enough (160)\n"},
      {"version 3 in 185 bytes", set8(v2, 4, 3), EPP_INVALID, "not long enough (185)\n"},
      {"name not UTF-8", set8(v1, 10, 0xFF), EPP_CONVERSION, "string at offset 9 cannot be converted\n"},
      {"first part beyond the end", set16(ok, 224, 259), EPP_INVALID, "first variable part at offset 259 out of bounds\n"},
      {"first part in the core part", set16(ok, 224, 0), EPP_INVALID, "first variable part at offset 0 out of bounds\n"},
      {"more parts than present", set16(ok, 222, 2), EPP_INVALID, "variable part at offset 258 out of bounds\n"},
      {"part shorter than its header", set16(ok, 231, 11), EPP_INVALID, "variable part at offset 226 out of bounds\n"},
      {"part over the trailer", set16(ok, 231, 33), EPP_INVALID, "variable part at offset 226 out of bounds\n"},
      {"part eye-catcher", set8(ok, 227, 'X'), EPP_INVALID, "could not find valid variable part eyecatcher\n"},
      {"more items than the part holds", set16(ok, 236, 3), EPP_INVALID, "item at offset 258 out of bounds\n"},
      {"item shorter than its header", set16(ok, 243, 6), EPP_INVALID, "item at offset 238 out of bounds\n"},
      {"item over its part", set16(ok, 254, 10), EPP_INVALID, "item at offset 249 out of bounds\n"},
      {"number of three bytes", withParts({part(1, {item(7, 9, 2, {1, 2, 3})})}), EPP_INVALID, "number item at offset 245 out of bounds\n"},
      {"string not UTF-8", withParts({part(0, {item(1, 1, 4, {'a', 0xC3, '('})})}), EPP_CONVERSION, "string at offset 245 cannot be converted\n"},
      {"bytes item of 300", withParts({part(0, {item(1, 1, 1, Bytes(300, 7))})}), EPP_OUT_OF_RANGE, "invalid byte stream size (255), maximum size (64)\n"},
      {"third part id", withParts({part(0, {n}), part(1, {n}), part(2, {n})}), EPP_FAILED, "eppSetItem: could not create variable part\n"},
      {"one item in two parts of one id", withParts({part(1, {n}), part(1, {n})}), EPP_ITEM_EXISTS, "item 1 for application 1 already exists\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setLevel(3);  // a fresh trace file per case
    EppHandle h = reinterpret_cast<EppHandle>(&h);
    EXPECT_EQ(eppDeserialize(c.stream.data(), c.stream.size(), &h), c.code);
    EXPECT_EQ(h, nullptr);
    const std::string text = trace();
    const size_t at = text.find(c.line), lineStart = text.rfind('\n', at) + 1;
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NE(text.substr(lineStart, at - lineStart).find("*** ERROR => "), std::string::npos) << text;
    EXPECT_EQ(liveBlocks.load(), 0);
  }
}

TEST_F(EppRefusal, FailuresAfterCreationDeleteThePassportAndSaySo) {
  // Two network parts of one id are read into one part.
  const Bytes ok = withParts({part(1, {item(1, 1, 2, {0, 0, 0, 1})}), part(1, {item(1, 2, 2, {0, 0, 0, 2})})});
  EppHandle h = nullptr;
  ASSERT_EQ(eppDeserialize(ok.data(), ok.size(), &h), EPP_OK);
  EXPECT_EQ(serialize(Passport(h)).size(), 230u + 12 + 2 * 11);
  const Bytes bad = set16(ok, 243, 6);
  EXPECT_EQ(eppDeserialize(bad.data(), bad.size(), &h), EPP_INVALID);
  EXPECT_TRUE(traced("eppDelete: deleting passport instance")) << trace();
  EXPECT_TRUE(traced("eppDeserialize: deserialization failed (rc=7)")) << trace();
  // An empty stream (found by fuzzing): no passport, and the result is cleared.
  h = reinterpret_cast<EppHandle>(&h);
  EXPECT_EQ(eppDeserialize(nullptr, 0, &h), EPP_INVALID);
  EXPECT_EQ(h, nullptr);
  EXPECT_TRUE(traced("*** ERROR => eppDeserialize: data stream pointer invalid\n"));
  EXPECT_EQ(eppDeserialize(ok.data(), ok.size(), nullptr), EPP_INVALID);
  failAllocations = true;
  EXPECT_EQ(eppDeserialize(ok.data(), ok.size(), &h), EPP_FAILED);
  EXPECT_TRUE(traced("*** ERROR => eppDeserialize: unable to create new passport\n"));
}

}  // namespace
