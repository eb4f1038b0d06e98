// Host names to addresses, the name buffer and the IP protocol switch.
#include <atomic>
#include <string>

#include "ni/ni_name_buffer.h"
#include "ni_test_support.h"

using namespace nitest;

namespace {

std::atomic<int64_t> fakeSeconds{1000};
int64_t fakeClock() { return fakeSeconds.load(); }

TEST_F(NiTest, HostNamesResolveOrFailWithTheirCodesAndFailuresAreRemembered) {
  const std::string longest = std::string(55, 'a') + ".invalid";  // 63: looked up, fails
  struct Case {
    const char* ipv6Active;  // VEL_IPv6_ACTIVE, nullptr: unset
    std::u16string host;
    int code;
    const char* addr;  // expected text form on success
  };
  const Case cases[] = {
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
      {nullptr, std::u16string(longest.begin(), longest.end()), NIEHOST_UNKNOWN, nullptr},
      {nullptr, u"x" + std::u16string(longest.begin(), longest.end()), NIEINVAL, nullptr},
  };
  openTrace(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(trcText(c.host));
    ipv6Active(c.ipv6Active);
    NiHostAddr addr{};
    EXPECT_EQ(NiHostToAddr(c.host.c_str(), &addr), c.code);
    EXPECT_EQ(c.addr ? NiAddrToStr(addr) : "", c.addr ? c.addr : "");
  }
  NiHostAddr addr{};
  EXPECT_EQ(NiHostToAddr(nullptr, &addr), NIEINVAL);
  EXPECT_EQ(NiHostToAddr(u"127.0.0.1", nullptr), NIEINVAL);
  // A failed name is remembered (no new lookup, no new line) until it expires.
  NiISetNameBufferClock(&fakeClock);
  const char16_t* name = u"remembered-failure.invalid";
  EXPECT_EQ(NiHostToAddr(name, &addr), NIEHOST_UNKNOWN);
  EXPECT_EQ(NiHostToAddr(name, &addr), NIEHOST_UNKNOWN);
  EXPECT_EQ(NiLastError().text, "hostname 'remembered-failure.invalid' unknown");
  fakeSeconds += kNameBufferMissSeconds;
  EXPECT_EQ(NiHostToAddr(name, &addr), NIEHOST_UNKNOWN);
  NiISetNameBufferClock(nullptr);
  const std::string text = trace();
  EXPECT_EQ(countOf(text, "*** ERROR => NiISetIPProtoUsage: invalid value '2' for VEL_IPv6_ACTIVE [0,1]"), 1u);
  EXPECT_EQ(countOf(text, "*** ERROR => NiHostToAddr: hostname too long (64 > 63)"), 1u) << text;
  EXPECT_EQ(countOf(text, "*** ERROR => NiHostToAddr: hostname 'remembered-failure.invalid' unknown"), 2u);
}

// "localhost" is the loopback address even where the resolver does not know it.
TEST(NiLoopbackName, LocalhostAndNamesUnderItInAnyCaseButNothingElse) {
  for (const char* name : {"localhost", "LocalHost", "localhost.", "db.localhost", "A.B.LOCALHOST."}) {
    EXPECT_TRUE(niIsLoopbackName(name)) << name;
  }
  for (const char* name : {"", ".", "localhos", "mylocalhost", "localhost.com", "localhost..", "local-host"}) {
    EXPECT_FALSE(niIsLoopbackName(name)) << name;
  }
}

}  // namespace
