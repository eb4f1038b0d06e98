// Host names to addresses, the name buffer, the IP protocol switch and the
// texts of the return codes.
#include <atomic>
#include <string>

#include "ni/ni_name_buffer.h"
#include "ni_test_support.h"

using namespace nitest;

namespace {

std::atomic<int64_t> fakeSeconds{1000};
int64_t fakeClock() { return fakeSeconds.load(); }

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct HostCase {
  const char* ipv6Active;  // VEL_IPv6_ACTIVE, nullptr: unset
  std::u16string host;
  int code;
  const char* addr;  // expected text form on success
};

TEST_F(NiTest, HostNamesResolveOrFailWithTheirCodes) {
  const std::u16string longest = widen(std::string(55, 'a') + ".invalid");  // 63: looked up, fails
  const std::u16string tooLong = u"x" + longest;
  const HostCase cases[] = {
      {nullptr, u"127.0.0.1", VEL_O_K, "127.0.0.1"},
      {nullptr, u"192.0.2.7", VEL_O_K, "192.0.2.7"},  // numeric: converted, never contacted
      {nullptr, u"localhost", VEL_O_K, "127.0.0.1"},
      {nullptr, u"::1", NIEINVAL, nullptr},  // IPv6 form without IPv6
      {"0", u"::1", NIEINVAL, nullptr},
      {"2", u"::1", NIEINVAL, nullptr},  // an invalid switch means IPv4 only
      {"1", u"::1", VEL_O_K, "::1"},
      {"1", u"127.0.0.1", VEL_O_K, "127.0.0.1"},
      {nullptr, u"/H/router/S/3299/H/host", NIEHOST_UNKNOWN, nullptr},
      {nullptr, u"", NIEHOST_UNKNOWN, nullptr},
      {nullptr, u"bad\xD800name", NIEHOST_UNKNOWN, nullptr},
      {nullptr, longest, NIEHOST_UNKNOWN, nullptr},
      {nullptr, tooLong, NIEINVAL, nullptr},
  };
  for (const HostCase& c : cases) {
    if (c.ipv6Active) {
      setenv("VEL_IPv6_ACTIVE", c.ipv6Active, 1);
    } else {
      unsetenv("VEL_IPv6_ACTIVE");
    }
    NiIResetIPProtoUsage();
    NiHostAddr addr{};
    EXPECT_EQ(NiHostToAddr(c.host.c_str(), &addr), c.code) << trcText(c.host);
    if (c.addr) {
      EXPECT_EQ(NiAddrToStr(addr), c.addr) << trcText(c.host);
    }
  }
  NiHostAddr addr{};
  EXPECT_EQ(NiHostToAddr(nullptr, &addr), NIEINVAL);
  EXPECT_EQ(NiHostToAddr(u"127.0.0.1", nullptr), NIEINVAL);
}

TEST_F(NiTest, FailuresAreTracedWithTheirOwnLines) {
  openTrace(2);
  setenv("VEL_IPv6_ACTIVE", "2", 1);
  NiIResetIPProtoUsage();
  NiHostAddr addr{};
  NiHostToAddr(u"::1", &addr);
  NiHostToAddr(u"/H/gw/S/3299", &addr);
  NiHostToAddr(u"127.0.0.1", &addr);
  NiHostToAddr(widen(std::string(64, 'h')).c_str(), &addr);
  closeTrace();
  const std::string text = trace();
  EXPECT_EQ(countOf(text, "*** ERROR => NiISetIPProtoUsage: invalid value '2' for VEL_IPv6_ACTIVE [0,1]"), 1u) << text;
  EXPECT_EQ(countOf(text, "NiHostToAddr: hostname  '/H/gw/S/3299' unknown\n"), 1u) << text;
  EXPECT_EQ(countOf(text, "NiHostToAddr: hostname '127.0.0.1' = addr 127.0.0.1\n"), 1u) << text;
  EXPECT_EQ(countOf(text, "*** ERROR => NiHostToAddr: hostname too long (64 > 63)"), 1u) << text;
}

TEST_F(NiTest, NameBufferRemembersAFailureUntilItExpires) {
  NiISetNameBufferClock(&fakeClock);
  const std::u16string name = u"remembered-failure.invalid";
  openTrace(1);
  NiHostAddr addr{};
  EXPECT_EQ(NiHostToAddr(name.c_str(), &addr), NIEHOST_UNKNOWN);
  EXPECT_EQ(NiHostToAddr(name.c_str(), &addr), NIEHOST_UNKNOWN);  // from the buffer: no new line
  EXPECT_EQ(NiLastError().code, NIEHOST_UNKNOWN);
  EXPECT_EQ(NiLastError().text, "hostname 'remembered-failure.invalid' unknown");
  fakeSeconds += kNameBufferMissSeconds;
  EXPECT_EQ(NiHostToAddr(name.c_str(), &addr), NIEHOST_UNKNOWN);  // looked up again
  closeTrace();
  NiISetNameBufferClock(nullptr);
  EXPECT_EQ(countOf(trace(), "*** ERROR => NiHostToAddr: hostname 'remembered-failure.invalid' unknown"), 2u)
      << trace();
}

TEST(NiCodesTest, NamesAndTextsIncludingUnknownCodes) {
  EXPECT_STREQ(NiErrName(NIECONN_BROKEN), "NIECONN_BROKEN");
  EXPECT_STREQ(NiErrText(NIEINVAL), NiErrText(NIETOO_SMALL));
  EXPECT_STREQ(NiErrName(-97), "NIEROUT_CANCELED");  // the route codes run in order
  for (int unknown : {-9, -14, -25, -89, -105, 1}) {
    EXPECT_STREQ(NiErrName(unknown), "*** ERROR ***") << unknown;
    EXPECT_STREQ(NiErrText(unknown), "*** ERROR ***") << unknown;
  }
  EXPECT_STREQ(NiErrText(NIENO_ANSWER), "*** ERROR ***");
  EXPECT_STREQ(NiHdlStateName(18), "INVALID");
}

}  // namespace
