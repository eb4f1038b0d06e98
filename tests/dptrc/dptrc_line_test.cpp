// Plain, error and warning lines as they appear in the file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "dptrc/dptrc.h"
#include "trc_test_util.h"

using namespace trctest;

namespace {

class TrcLine : public TrcFileTest {
 protected:
  void SetUp() override { open(3); }
  std::string stamp(time_t second) const { return "M " + threadTag() + ascTime(second) + "\n"; }
};

}  // namespace

TEST_F(TrcLine, TimeStampOncePerSecondPerThread) {
  DpTrc(moxTrc, "one\n");
  DpTrc(moxTrc, "two\n");
  fakeSecond = 1700000001;
  DpTrc(moxTrc, "three\n");
  EXPECT_EQ(written(), stamp(1700000000) + m_ + "one\n" + m_ + "two\n" + stamp(1700000001) + m_ + "three\n");
  // At level 1 the stamp starts with an empty line; the idiom restores the entry level.
  trcCloseLibraryFile();
  open(1);
  MOX_TRC(1, "started\n");
  EXPECT_EQ(written(), "M  \n" + stamp(1700000000) + m_ + "started\n");
  TrcLock();
  const int entryLevel = TrcEntryLevel;
  TrcUnlock();
  EXPECT_EQ(entryLevel, 2);
}

TEST_F(TrcLine, EveryPhysicalLineCarriesPrefixAndThreadTagInUtf8AndLettersBreakOpenLines) {
  MOX_TRC_TEXT(2, u"smile \U0001F600 lone \xD800 end %s\n");
  MOX_TRC(2, "%s\n", trcText(u"\u00E9\xDC00").c_str());
  DpTrc(moxTrc, "first\nsecond\n");
  DpTrc(moxTrc, "a\n\nb\n");
  DpTrc(moxTrc, "begin ");
  DpTrc(moxTrc, "end\n");
  TrcHandle other = nullptr;
  ASSERT_EQ(CTrcNewComp(u'x', &other, nullptr), 0);
  DpTrc(other, "dropped at entry level 2\n");
  DpTrc(moxTrc, "open ");
  TrcLock();
  TrcEntryLevel = 1;
  DpTrc(other, "other\n");
  TrcEntryLevel = 2;
  TrcUnlock();
  EXPECT_EQ(body(), m_ + "smile \xF0\x9F\x98\x80 lone # end %s\n" + m_ + "\xC3\xA9#\n" + m_ + "first\n" + m_ +
                        "second\n" + m_ + "a\n" + m_ + "\n" + m_ + "b\n" + m_ + "begin " + threadTag() + "end\n" + m_ +
                        "open \n" + "X  " + threadTag() + "other\n");
}

TEST_F(TrcLine, LongMessagesAreCutAndWarned) {
  const size_t room = 8191 - m_.size();
  MOX_TRC_TEXT(2, std::u16string(room, u'a') + u"\n");      // the newline is cut off
  MOX_TRC_TEXT(2, std::u16string(room - 1, u'b') + u"\n");  // fits exactly
  MOX_TRC(2, "%s", std::string(40000, 'c').c_str());
  TrcLock();
  TrcSetLocation("f.cpp", 1);
  TrcError(moxTrc, "%s", std::string(9000, 'e').c_str());
  TrcUnlock();
  const std::string warning = "*** WARNING => data was truncated\n";
  const std::string error = m_ + "*** ERROR => " + std::string(8191 - m_.size() - 13 - 18, 'e') + " [f.cpp        1]\n";
  EXPECT_EQ(body(), m_ + std::string(room, 'a') + "\n" + warning + m_ + std::string(room - 1, 'b') + "\n" + m_ +
                        std::string(room, 'c') + "\n" + warning + error + "\n" + warning);
}

TEST_F(TrcLine, ErrorLinesEndWithLocationAndErrnoText) {
  TrcLock();
  TrcSetLocation("/src/mox/context/registry_scan.cpp", 1234567);
  TrcError(moxTrc, "bad id %d\n", 5);
  TrcSetLocation("C:\\src\\a.cpp", 7);
  TrcWarning(moxTrc, "careful");
  errno = ENOENT;
  TrcErrorErrno(moxTrc, "connect %s", "host");
  errno = 99999;
  TrcErrorErrno(moxTrc, "odd\n");
  TrcUnlock();
  trcErrorLine("dir/file.cpp", 42, "via idiom %s\n", "x");
  // An overlong format is cut without breaking a conversion.
  trcErrorLine("g.cpp", 3, (std::string(1023, 'f') + "%ld tail\n").c_str(), 123456789L);
  EXPECT_EQ(body(), m_ + "*** ERROR => bad id 5 [registry_sca 12345]\n" + m_ +
                        "*** WARNING => careful [a.cpp        7]\n" + m_ +
                        "*** ERROR => connect host (2: No such file or directory) [a.cpp        7]\n" + m_ +
                        "*** ERROR => odd (99999: illegal errno) [a.cpp        7]\n" + m_ +
                        "*** ERROR => via idiom x [file.cpp     42]\n" + "*** ERROR => Dptrc fmt string truncated\n" +
                        m_ + "*** ERROR => " + std::string(1023, 'f') + " [g.cpp        3]\n");
}

// In local time, UTC here (the other tests format with the same zone).
TEST(TrcTime, GivenTimeIsFormattedInLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(trcFormatLocalTime(981173106007LL, true), u"2001-02-03 04:05:06.007");
  EXPECT_EQ(trcFormatLocalTime(981173106007LL, false), u"2001-02-03 04:05:06");
  EXPECT_EQ(trcFormatLocalTime(-1, true), u"ERROR_DATE");
}
