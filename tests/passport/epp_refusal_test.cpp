// Streams eppDeserialize must refuse: each with its code and diagnostic, no
// passport handed out and none left behind. The streams are exact-size heap
// buffers, so a read past one shows up under AddressSanitizer.
#include <gtest/gtest.h>

#include <functional>
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

// Part at 226: a number item at 238 (data at 245), a byte item at 249 (data
// at 256); the part ends at 258, the stream at 262.
Bytes standard() { return withParts({part(1, {item(7, 9, 2, {0, 0, 1, 0}), item(7, 10, 1, {0xAB, 0xCD})})}); }

Bytes versionStream(uint8_t version) {
  Passport p;
  EXPECT_EQ(eppSetVersion(p, version), EPP_OK);
  return serialize(p);
}

struct Case {
  const char* name;
  std::function<Bytes()> stream;
  int32_t code;
  const char* line;  // the diagnostic, after "*** ERROR => eppDeserialize: "
};

class EppRefusal : public EppTest {};

TEST_F(EppRefusal, MalformedStreamsAreRefusedWithTheirCodeAndLine) {
  // One case a line: the table reads better than the formatter would lay it out.
  // clang-format off
  const Case cases[] = {
      {"159 bytes", [] { Bytes b = versionStream(1); b.pop_back(); return b; }, EPP_INVALID,
       "data stream invalid, not long enough (159)"},
      {"length says 185, stream has 160", [] { Bytes b = versionStream(1); put16(b, 5, 185); return b; },
       EPP_INVALID, "inconsistend length of passport and bytestream (185 > 160)"},
      {"negative length", [] { Bytes b = versionStream(1); put16(b, 5, 0x8000); return b; }, EPP_INVALID,
       "inconsistend length of passport and bytestream (18446744073709518848 > 160)"},
      {"length below the headers", [] { Bytes b = versionStream(1); put16(b, 5, 3); return b; }, EPP_INVALID,
       "data stream invalid, not long enough (3)"},
      {"leading eye-catcher", [] { Bytes b = versionStream(1); b[1] = 'X'; return b; }, EPP_INVALID,
       "data stream invalid, could not find valid leading eyecatcher"},
      {"trailing eye-catcher", [] { Bytes b = versionStream(2); b[183] = 'X'; return b; }, EPP_INVALID,
       "data stream invalid, could not find valid trailing eyecatcher"},
      {"version 0", [] { Bytes b = versionStream(1); b[4] = 0; return b; }, EPP_INVALID,
       "*** ERROR => eppSetVersion: passport version 0 not supported"},
      {"version 2 in 160 bytes", [] { Bytes b = versionStream(1); b[4] = 2; return b; }, EPP_INVALID,
       "data stream invalid, not long enough (160)"},
      {"version 3 in 185 bytes", [] { Bytes b = versionStream(2); b[4] = 3; return b; }, EPP_INVALID,
       "data stream invalid, not long enough (185)"},
      {"component name not UTF-8", [] { Bytes b = versionStream(1); b[10] = 0xFF; return b; }, EPP_CONVERSION,
       "data stream invalid, string at offset 9 cannot be converted"},
      {"first part beyond the end", [] { Bytes b = standard(); put16(b, 224, 259); return b; }, EPP_INVALID,
       "data stream invalid, first variable part at offset 259 out of bounds"},
      {"first part inside the core part", [] { Bytes b = standard(); put16(b, 224, 0); return b; }, EPP_INVALID,
       "data stream invalid, first variable part at offset 0 out of bounds"},
      {"more parts than present", [] { Bytes b = standard(); put16(b, 222, 2); return b; }, EPP_INVALID,
       "data stream invalid, variable part at offset 258 out of bounds"},
      {"part shorter than its header", [] { Bytes b = standard(); put16(b, 231, 11); return b; }, EPP_INVALID,
       "data stream invalid, variable part at offset 226 out of bounds"},
      {"part over the trailer", [] { Bytes b = standard(); put16(b, 231, 33); return b; }, EPP_INVALID,
       "data stream invalid, variable part at offset 226 out of bounds"},
      {"part eye-catcher", [] { Bytes b = standard(); b[227] = 'X'; return b; }, EPP_INVALID,
       "data stream invalid, could not find valid variable part eyecatcher"},
      {"more items than the part holds", [] { Bytes b = standard(); put16(b, 236, 3); return b; }, EPP_INVALID,
       "data stream invalid, item at offset 258 out of bounds"},
      {"item shorter than its header", [] { Bytes b = standard(); put16(b, 243, 6); return b; }, EPP_INVALID,
       "data stream invalid, item at offset 238 out of bounds"},
      {"item over its part", [] { Bytes b = standard(); put16(b, 250 + 4, 10); return b; }, EPP_INVALID,
       "data stream invalid, item at offset 249 out of bounds"},
      {"number of three bytes", [] { return withParts({part(1, {item(7, 9, 2, {1, 2, 3})})}); }, EPP_INVALID,
       "data stream invalid, number item at offset 245 out of bounds"},
      {"string item not UTF-8", [] { return withParts({part(0, {item(1, 1, 4, {'a', 0xC3, '('})})}); },
       EPP_CONVERSION, "data stream invalid, string at offset 245 cannot be converted"},
      {"bytes item of 300", [] { return withParts({part(0, {item(1, 1, 1, Bytes(300, 7))})}); },
       EPP_OUT_OF_RANGE, "*** ERROR => eppSetItem: invalid byte stream size (255), maximum size (64)"},
      {"third distinct part id",
       [] {
         return withParts({part(0, {item(1, 1, 2, {0, 0, 0, 1})}), part(1, {item(1, 1, 2, {0, 0, 0, 1})}),
                           part(2, {item(1, 1, 2, {0, 0, 0, 1})})});
       },
       EPP_FAILED, "*** ERROR => eppSetItem: could not create variable part"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setLevel(3);  // a fresh trace file per case
    const Bytes stream = c.stream();
    EppHandle h = reinterpret_cast<EppHandle>(&h);
    EXPECT_EQ(eppDeserialize(stream.data(), stream.size(), &h), c.code);
    EXPECT_EQ(h, nullptr);
    const std::string line = c.line;
    const std::string expected = line.rfind("***", 0) == 0 ? line : "*** ERROR => eppDeserialize: " + line;
    EXPECT_TRUE(traced(expected + (line.find("inconsistend") == 0 ? "" : "\n"))) << trace();
    EXPECT_EQ(liveBlocks.load(), 0);
  }
}

TEST_F(EppRefusal, FailuresAfterCreationDeleteThePassportAndSaySo) {
  const Bytes ok = standard();
  EppHandle h = nullptr;
  ASSERT_EQ(eppDeserialize(ok.data(), ok.size(), &h), EPP_OK);
  ASSERT_EQ(eppDelete(h), EPP_OK);
  Bytes bad = ok;
  put16(bad, 243, 6);
  EXPECT_EQ(eppDeserialize(bad.data(), bad.size(), &h), EPP_INVALID);
  EXPECT_TRUE(traced("eppDelete: deleting passport instance")) << trace();
  EXPECT_TRUE(traced("eppDeserialize: deserialization failed (rc=7)")) << trace();
  // Refusals of the frame come before any passport exists.
  setLevel(3);
  bad = ok;
  bad.pop_back();
  EXPECT_EQ(eppDeserialize(bad.data(), bad.size(), &h), EPP_INVALID);
  EXPECT_FALSE(traced("eppInit"));
  EXPECT_EQ(eppDeserialize(bad.data(), bad.size(), nullptr), EPP_INVALID);
  // An empty stream (found by fuzzing): no passport, and the result is cleared.
  h = reinterpret_cast<EppHandle>(&h);
  EXPECT_EQ(eppDeserialize(nullptr, 0, &h), EPP_INVALID);
  EXPECT_EQ(h, nullptr);
  EXPECT_TRUE(traced("*** ERROR => eppDeserialize: data stream pointer invalid\n"));
  failAllocations = true;
  EXPECT_EQ(eppDeserialize(ok.data(), ok.size(), &h), EPP_FAILED);
  EXPECT_TRUE(traced("*** ERROR => eppDeserialize: unable to create new passport\n"));
}

TEST_F(EppRefusal, ItemsOfOnePartIdAcrossPartsMeetTheSameLimits) {
  // Two network parts with one id share one part in memory: the duplicate is caught.
  const Bytes twice = withParts({part(1, {item(1, 1, 2, {0, 0, 0, 1})}), part(1, {item(1, 1, 2, {0, 0, 0, 2})})});
  EppHandle h = nullptr;
  EXPECT_EQ(eppDeserialize(twice.data(), twice.size(), &h), EPP_ITEM_EXISTS);
  const Bytes merged = withParts({part(1, {item(1, 1, 2, {0, 0, 0, 1})}), part(1, {item(1, 2, 2, {0, 0, 0, 2})})});
  ASSERT_EQ(eppDeserialize(merged.data(), merged.size(), &h), EPP_OK);
  Passport p(h);
  EXPECT_EQ(serialize(p).size(), 230u + 12 + 2 * 11);
}

}  // namespace
