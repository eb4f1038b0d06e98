// The trace file: header, fallbacks, the repeat and size limits, early lines.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "dptrc/dptrc.h"
#include "trc_test_util.h"

using namespace trctest;
using testsupport::countOf;

namespace {

constexpr int kFloodLine = __LINE__ + 1;
void hostError() { MOX_TRC_HOST_ERROR("Get sessionId function point is NULL\n"); }

constexpr int kKeysLine = __LINE__ + 1;
void hostTiming(int key) { MOX_TRC_HOST(2, "C|m%d - [StartTiming]\n", key); }

constexpr int kManyKeysLine = __LINE__ + 1;
void hostTimingManyKeys(int key) { MOX_TRC_HOST(2, "C|n%d - [EndTiming] TimeStat:yes\n", key); }

std::string header(const std::string& baseName, int level) {
  const std::string dashes(51, '-');
  return "\n" + dashes + "\ntrc file: \"" + baseName + "\", trc level: " + std::to_string(level) +
         ", release: \"720\"\n" + dashes + "\n";
}

std::string repeatedLine(int line, int count) {
  return "... line of dptrc_file_test.cpp:" + std::to_string(line) + " repeated " + std::to_string(count) + " times";
}

using TrcLimits = TrcFileTest;

}  // namespace

TEST_F(TrcLimits, HostFloodWritesTheFirstLinesAsAlwaysThenOneRepeatedLinePerSecond) {
  open(2);
  for (int i = 0; i < 1000; ++i) hostError();
  EXPECT_EQ(countOf(written(), "repeated"), 0u);  // the second is not over yet
  fakeSecond += 1;
  for (int i = 0; i < 150; ++i) hostError();
  const std::string error =
      m_ + "*** ERROR => Get sessionId function point is NULL [dptrc_file_t " + std::to_string(kFloodLine) + "]";
  std::vector<std::string> expected(100, error);
  expected.push_back(m_ + repeatedLine(kFloodLine, 900));
  expected.insert(expected.end(), 100, error);
  EXPECT_EQ(lines(), expected);
  // The close reports the rest; a reopen starts afresh and repeats no report.
  trcCloseLibraryFile();
  EXPECT_TRUE(readFile(dir_.file("test_mox.trc")).find(repeatedLine(kFloodLine, 50)) != std::string::npos);
  open(2);
  fakeSecond += 1;
  for (int i = 0; i < 100; ++i) hostError();
  EXPECT_EQ(countOf(written(), "Get sessionId"), 100u);
  EXPECT_EQ(countOf(written(), "repeated"), 0u);
}

TEST_F(TrcLimits, EachTextOfATracePointIsCountedOnItsOwnAndOwnLinesAreNeverCut) {
  open(2);
  for (int i = 0; i < 600; ++i) hostTiming(i % 3);           // three texts, 200 each
  for (int i = 0; i < 1200; ++i) hostTimingManyKeys(i % 6);  // six texts: four are counted
  for (int i = 0; i < 300; ++i) MOX_TRC(2, "Start copying[lock]\n");
  fakeSecond += 1;
  MOX_TRC(2, "Processing finished\n");

  const std::string body = this->body();
  for (int key = 0; key < 3; ++key) EXPECT_EQ(countOf(body, "C|m" + std::to_string(key) + " -"), 100u);
  for (int key = 0; key < 6; ++key) EXPECT_EQ(countOf(body, "C|n" + std::to_string(key) + " -"), key < 4 ? 100u : 200u);
  EXPECT_EQ(countOf(body, "Start copying[lock]\n"), 300u);
  EXPECT_EQ(countOf(body, repeatedLine(kKeysLine, 300) + "\n"), 1u);
  EXPECT_EQ(countOf(body, repeatedLine(kManyKeysLine, 400) + "\n"), 1u);
  // The reports come before the first line of the new second.
  EXPECT_EQ(body.substr(body.size() - 20), "Processing finished\n");
}

TEST_F(TrcLimits, FullFileIsRenamedOnceAndStartedAgainWithHeaderAndTimeStamp) {
  constexpr uint64_t kLimit = 2000;
  trcSetFileSizeLimit(kLimit);
  open(3);
  const std::string padding(50, 'x');
  for (int i = 0; i < 200; ++i) MOX_TRC(3, "line %03d %s\n", i, padding.c_str());

  const std::string current = readFile(dir_.file("test_mox.trc"));
  const std::string old = readFile(dir_.file("test_mox.trc.old"));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("test_mox.trc.old.old")));
  for (const std::string* text : {&current, &old}) {
    EXPECT_LE(text->size(), kLimit + 100) << *text;  // at most one line beyond the limit
    EXPECT_EQ(text->rfind(header("test_mox.trc", 3), 0), 0u);
  }
  // The fresh file starts with a time stamp even within the same second.
  EXPECT_EQ(written().rfind("M " + threadTag() + ascTime(1700000000) + "\n", 0), 0u);
  // No line is lost at the rotation: the old file ends where the current one begins.
  const size_t lastOld = old.rfind("line ") + 5, firstCurrent = current.find("line ") + 5;
  EXPECT_EQ(std::stoi(old.substr(lastOld, 3)) + 1, std::stoi(current.substr(firstCurrent, 3)));
  EXPECT_NE(current.find("line 199 "), std::string::npos);
}

TEST_F(TrcLimits, EarlyErrorLinesFollowTheHeaderOfTheNextOpenAtLevelOneOrMore) {
  const int noted = __LINE__ + 1;
  MOX_TRC_ERROR_EARLY("Configuration file %s is larger than %d bytes\n", "/c/mox.conf", 5);
  open(1);
  EXPECT_EQ(body(), "M  \n" + m_ + "*** ERROR => Configuration file /c/mox.conf is larger than 5 bytes [dptrc_file_t " +
                        std::to_string(noted) + "]\n");
  const int direct = __LINE__ + 1;
  MOX_TRC_ERROR_EARLY("while open\n");  // written at once
  EXPECT_NE(written().find("*** ERROR => while open [dptrc_file_t " + std::to_string(direct) + "]"), std::string::npos);
  trcCloseLibraryFile();
  // Written once only; and a level-0 open drops what was noted.
  MOX_TRC_ERROR_EARLY("dropped\n");
  open(0);
  trcCloseLibraryFile();
  open(1);
  EXPECT_EQ(written(), "");
}

// A level-0 file holds the header alone; a reopen truncates it. A file that
// cannot be opened, and writes after the close, go to stderr.
TEST(TrcFile, LevelZeroWritesTheHeaderOnlyWithoutAnOpenFileLinesGoToStderrAndAnEmptyLogdirIsTheWorkingDirectory) {
  TempDir dir;
  EXPECT_EQ(trcOpenLibraryFile(u"proc", dir.path16(), 0), dir.path16() + u"/proc_mox.trc");
  MOX_TRC(1, "not written\n");
  MOX_TRC_ERROR("not written either\n");
  trcCloseLibraryFile();
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 0));
  trcOpenLibraryFile(u"proc", dir.path16(), 2);
  const TrcHandle stale = moxTrc.load();
  trcCloseLibraryFile();
  EXPECT_EQ(moxTrc.load(), nullptr);
  const std::string path = dir.file("missing/x_mox.trc");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(TrcOpenFile(std::u16string(path.begin(), path.end()), true, 2));
  TrcHandle handle = nullptr;
  EXPECT_EQ(CTrcNewComp(u'M', &handle, nullptr), 0);
  DpTrc(handle, "to stderr\n");
  TrcCloseFile(handle);
  MOX_TRC(2, "after exit %d\n", 7);
  DpTrc(stale, "through a stale handle\n");
  MOX_TRC_ERROR("failed\n");
  const std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(text.rfind("*** ERROR => CTrcOpen: fopen " + path + "\n" + header("x_mox.trc", 2), 0), 0u) << text;
  for (const char* line : {"to stderr\n", "after exit 7\n", "through a stale handle\n"}) {
    EXPECT_NE(text.find("M  " + threadTag() + line), std::string::npos) << line;
  }
  EXPECT_NE(text.find("*** ERROR => failed [dptrc_file_t "), std::string::npos) << text;
  EXPECT_NE(fcntl(2, F_GETFD), -1);  // stderr itself stays open
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 2));
  // An empty logdir, or one with a NUL inside, means the working directory.
  TempDir cwd;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(cwd.path());
  for (const std::u16string& logdir : {std::u16string(), dir.path16() + std::u16string(1, u'\0') + u"sub"}) {
    EXPECT_EQ(trcOpenLibraryFile(u"safety", logdir, 1), u"safety_mox.trc");
    trcCloseLibraryFile();
    EXPECT_TRUE(std::filesystem::remove(cwd.file("safety_mox.trc")));
  }
  std::filesystem::current_path(previous);
  EXPECT_FALSE(std::filesystem::exists("/safety_mox.trc"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("safety_mox.trc")));
}
