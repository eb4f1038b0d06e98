// Plain, error and warning lines as they appear in the file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <regex>

#include "dptrc/dptrc.h"
#include "trc_test_util.h"

using namespace trctest;

namespace {

class TrcLine : public TrcFileTest {
 protected:
  void SetUp() override { open(3); }
  // Written lines without the time-stamp lines.
  std::string body() const {
    std::string kept;
    for (const std::string& line : lines()) {
      if (line.rfind("M [Thr ", 0) != 0) kept += line + "\n";
    }
    return kept;
  }
  std::string stamp(time_t second) const { return "M " + threadTag() + ascTime(second) + "\n"; }

  const std::string m_ = "M  " + threadTag();
};

}  // namespace

TEST_F(TrcLine, TimeStampOncePerSecondPerThread) {
  DpTrc(moxTrc, "one\n");
  DpTrc(moxTrc, "two\n");
  fakeSecond() = 1700000001;
  DpTrc(moxTrc, "three\n");
  DpTrcNoTime(moxTrc, "no stamp test\n");
  EXPECT_EQ(written(), stamp(1700000000) + m_ + "one\n" + m_ + "two\n" + stamp(1700000001) + m_ + "three\n" + m_ +
                           "no stamp test\n");
}

TEST_F(TrcLine, LevelOneStampStartsWithAnEmptyLineAndIdiomRestoresEntryLevel) {
  TrcCloseLibraryFile();
  open(1);
  MOX_TRC(1, "started\n");
  EXPECT_EQ(written(), "M  \n" + stamp(1700000000) + m_ + "started\n");
  EXPECT_EQ(TrcEntryLevel, 2);
  EXPECT_EQ(TrcLockUsers(), 0);
}

TEST_F(TrcLine, EveryPhysicalLineCarriesPrefixAndThreadTag) {
  DpTrc(moxTrc, "first\nsecond\n");
  DpTrc(moxTrc, "windows end\n\r");
  DpTrc(moxTrc, "a\n\nb\n");
  DpTrcNoTag(moxTrc, "x\ny\n");
  EXPECT_EQ(body(), m_ + "first\n" + m_ + "second\n" + m_ + "windows end\n\r" + m_ + "a\n" + m_ + "\n" + m_ + "b\n" +
                        "M  x\nM  y\n");
}

TEST_F(TrcLine, UnfinishedLinesAreContinuedAndLetterChangesBreakThem) {
  const std::string tag = threadTag();
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
  EXPECT_EQ(body(), m_ + "begin " + tag + "end\n" + m_ + "open \n" + "X  " + tag + "other\n");
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
  EXPECT_EQ(body(), m_ + "*** ERROR => bad id 5 [registry_sca 12345]\n" + m_ +
                        "*** WARNING => careful [a.cpp        7]\n" + m_ +
                        "*** ERROR => connect host (2: No such file or directory) [a.cpp        7]\n" + m_ +
                        "*** ERROR => odd (99999: illegal errno) [a.cpp        7]\n" + m_ +
                        "*** ERROR => via idiom x [file.cpp     42]\n");
}

TEST_F(TrcLine, OverlongErrorFormatIsCutWithoutBreakingAConversion) {
  const std::string format = std::string(1023, 'f') + "%ld tail\n";
  trcErrorLine("g.cpp", 3, format.c_str(), 123456789L);
  EXPECT_EQ(body(), "*** ERROR => Dptrc fmt string truncated\n" + m_ + "*** ERROR => " + std::string(1023, 'f') +
                        " [g.cpp        3]\n");
}

TEST_F(TrcLine, FormattingFailureWritesItsOwnLine) {
  DpTrc(moxTrc, "%lc\n", static_cast<wint_t>(0xD800));  // a lone surrogate has no multibyte form
  const std::regex failure(R"(\*\*\* ERROR => vsnprintf err, errno=84 \[dptrace_r\.c \d+\]\n)");
  EXPECT_TRUE(std::regex_match(body(), failure)) << body();
}

TEST_F(TrcLine, TextIsUtf8OnDisk) {
  MOX_TRC_TEXT(2, u"smile \U0001F600 lone \xD800 end %s\n");
  MOX_TRC(2, "%s\n", trcText(u"\u00E9\xDC00").c_str());
  EXPECT_EQ(body(), m_ + "smile \xF0\x9F\x98\x80 lone # end %s\n" + m_ + "\xC3\xA9#\n");
}

TEST(TrcTime, CurrentTimeTexts) {
  const std::regex withMillis(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})");
  EXPECT_TRUE(std::regex_match(trcText(FormatCurrentTime()) + ".000", withMillis));
  EXPECT_TRUE(std::regex_match(trcText(FormatCurrentTimeMs()), withMillis));
}

TEST(TrcTime, GivenTimeIsFormattedInLocalTime) {
  const std::string previous = getenv("TZ") ? getenv("TZ") : "";
  setenv("TZ", "UTC", 1);
  tzset();
  // 2001-02-03 04:05:06.007 UTC
  EXPECT_EQ(FormatLocalTime(981173106007LL, true), u"2001-02-03 04:05:06.007");
  EXPECT_EQ(FormatLocalTime(981173106007LL, false), u"2001-02-03 04:05:06");
  EXPECT_EQ(FormatLocalTime(-1, true), u"ERROR_DATE");
  if (previous.empty()) unsetenv("TZ"); else setenv("TZ", previous.c_str(), 1);
  tzset();
}
