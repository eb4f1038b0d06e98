// Passports through the exports.
#include <regex>

#include "e2e/e2e_support.h"
#include "support/wire_passport.h"

namespace {

using e2e::LibraryTest;

using testsupport::wirePassport;

const std::u16string kTransactionId = u"TX-42" + std::u16string(27, u' ');
const std::u16string kRootId = u"101112131415161718191A1B1C1D1E1F";
const std::u16string kConnectionId = u"C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF";
const std::u16string kV3Guid = kRootId + kConnectionId + u"00000007";  // counter 7
const mox_char* session() { return u"S1"; }

template <typename Getter>
std::u16string fetch(Getter getter) {
  mox_char buffer[600];
  const uint32_t length = getter(buffer, 600);
  return length < 600 ? std::u16string(buffer, length) : u"(too long)";
}
std::u16string guid() { return fetch(MOX_getTraceGuid); }
std::u16string outgoing() { return fetch(MOX_getPassport); }
std::u16string elementOf(const std::u16string& passport, uint16_t e) {
  return fetch([&](mox_char* b, uint32_t n) { return MOX_getPassportElement2(passport.c_str(), e, b, n); });
}

bool isGeneratedGuid(const std::u16string& g) {
  return std::regex_match(e2e::narrow(g), std::regex("[0-9A-F]{14}[DE][0-9A-F][89AB][0-9A-F][89A-F][0-9A-F]{13}"));
}
// An empty expectation stands for a generated GUID.
bool guidIs(const std::u16string& actual, const std::u16string& expected) {
  return expected.empty() ? isGeneratedGuid(actual) : actual == expected;
}

// Plain and Ex forms read the same context. Without trace_enabled_via_e2e an
// end-to-end passport sets the level but does not trace; an application one still does.
TEST_F(LibraryTest, PassportsGiveGuidFlagLevelElementsAndTracing) {
  initWith({{"trace_enabled_via_em", "0"}, {"trace_enabled_via_e2e", "0"}});
  struct Case {
    std::u16string passport;
    int16_t flag, level;
    std::u16string guid;                   // empty: generated
    std::vector<std::u16string> elements;  // 1 to 4 (end-to-end passports)
  } cases[] = {{u"ABC*1000", 1000, 2, u"ABC", {}},
               {u"ABC*5", 5, 0, u"ABC", {}},
               {u"NOSTAR", 0, 0, u"", {}},
               {wirePassport(3, 2697), 2697, 2, kV3Guid, {kTransactionId, kRootId, kConnectionId, u"7"}},
               // The connection counter is unsigned 32-bit, in the element as in the GUID.
               {wirePassport(3, 2697, 2147483648u),
                2697,
                2,
                kRootId + kConnectionId + u"80000000",
                {kTransactionId, kRootId, kConnectionId, u"2147483648"}},
               {wirePassport(3, 2697, 4294967295u),
                2697,
                2,
                kRootId + kConnectionId + u"FFFFFFFF",
                {kTransactionId, kRootId, kConnectionId, u"4294967295"}},
               {wirePassport(2, 2697), 2697, 3, kTransactionId, {kTransactionId, u"", u"", u"0"}},
               {wirePassport(1, 1535), 1535, 3, u"", {u"", u"", u"", u"0"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(e2e::narrow(c.passport.substr(0, 10)) + "/" + std::to_string(c.flag));
    MOX_initContext(c.passport.c_str());
    MOX_initContextEx(session, c.passport.c_str());
    EXPECT_EQ(MOX_getTraceFlag(), c.flag);
    EXPECT_EQ(MOX_getTraceFlagEx(session), c.flag);
    EXPECT_EQ(MOX_getTraceLevel(), c.level);
    EXPECT_EQ(MOX_getTraceLevelEx(session), c.level);
    EXPECT_EQ(MOX_getTraceLevel2(c.passport.c_str()), c.elements.empty() ? 0 : c.level);  // end-to-end only
    EXPECT_TRUE(guidIs(guid(), c.guid)) << e2e::narrow(guid());
    EXPECT_TRUE(guidIs(fetch([](mox_char* b, uint32_t n) { return MOX_getTraceGuidEx(session, b, n); }), c.guid));
    const bool traced = c.elements.empty() && c.level != 0;
    EXPECT_EQ(outgoing().size(), traced ? 460u : 0u);  // only a traced unit of work hands passports on
    for (uint16_t e = 1; e <= c.elements.size(); ++e) {
      EXPECT_EQ(fetch([e](mox_char* b, uint32_t n) { return MOX_getPassportElementEx(session, e, b, n); }),
                c.elements[e - 1]);
      EXPECT_EQ(fetch([e](mox_char* b, uint32_t n) { return MOX_getPassportElement(e, b, n); }), c.elements[e - 1]);
      EXPECT_EQ(elementOf(c.passport, e), c.elements[e - 1]);
    }
  }
}

TEST_F(LibraryTest, PassportsHandedOnShareTheConnectionAndCountAndRaiseVersion2) {
  initWith({{"trace_enabled_via_em", "0"}, {"system_name", "SYS"}}, "orders");
  MOX_initContext(wirePassport(2, 2697).c_str());
  const std::u16string first = outgoing();
  const std::u16string second = outgoing();
  for (const std::u16string& p : {first, second}) {
    EXPECT_EQ(p.substr(8, 2), u"03");     // version
    EXPECT_EQ(p.substr(14, 4), u"9F0D");  // level 3 as a version 3 flag: 3487
    EXPECT_EQ(MOX_getTraceLevel2(p.c_str()), 3);
    EXPECT_EQ(elementOf(p, 1), kTransactionId);
    EXPECT_EQ(p.substr(234, 16), u"5359532D6F726465");  // previous component "SYS-orde..."
  }
  EXPECT_TRUE(isGeneratedGuid(elementOf(first, 3)));
  EXPECT_EQ(elementOf(first, 3), elementOf(second, 3));
  EXPECT_EQ(elementOf(first, 4), u"0");
  EXPECT_EQ(elementOf(second, 4), u"1");
  // The same from the string form: a new connection, counter 0.
  const std::u16string fromString =
      fetch([](mox_char* b, uint32_t n) { return MOX_getPassport2(wirePassport(2, 2697).c_str(), b, n); });
  EXPECT_EQ(fromString.substr(8, 2), u"03");
  EXPECT_NE(elementOf(fromString, 3), elementOf(first, 3));
  EXPECT_EQ(elementOf(fromString, 4), u"0");
  mox_char buffer[2] = {u'x'};
  EXPECT_EQ(MOX_getPassportElement2(first.c_str(), 9, buffer, 2), 0u);  // no such element: empty
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(LibraryTest, LowerCaseHexIsAnApplicationPassport) {
  initWith({{"trace_enabled_via_em", "0"}, {"lib_trace_level", "1"}});
  std::u16string lowerInside = wirePassport(3, 3487), allLower = lowerInside;
  lowerInside[21] = u'a';
  for (char16_t& c : allLower) c = char16_t(std::tolower(c));
  mox_char buffer[8] = u"keep";
  for (const std::u16string& text : {lowerInside, allLower}) {
    MOX_initContext(text.c_str());
    EXPECT_EQ(MOX_getTraceLevel(), 0);
    EXPECT_EQ(MOX_getTraceLevel2(text.c_str()), 0);
    EXPECT_EQ(MOX_getPassport2(text.c_str(), buffer, 8), 0u);
    EXPECT_EQ(MOX_getPassportElement2(text.c_str(), 1, buffer, 8), 0u);
    EXPECT_EQ(std::u16string(buffer), u"keep");
  }
  // Read and refused by each of the four calls for the first text, never for the second.
  EXPECT_EQ(e2e::countOf(traceFile(), "Bad VEL passport format, deserialization failed!"), 4);
  EXPECT_EQ(e2e::countOf(traceFile(), "Invalid application passport format encountered"), 2);
}

}  // namespace
