// Opening, choosing and closing the trace file; the component table.
#include <gtest/gtest.h>

#include "dptrc/dptrc.h"
#include "trc_test_util.h"

using namespace trctest;

namespace {

std::string header(const std::string& baseName, int level) {
  const std::string dashes(51, '-');
  return "\n" + dashes + "\ntrc file: \"" + baseName + "\", trc level: " + std::to_string(level) +
         ", release: \"720\"\n" + dashes + "\n";
}

}  // namespace

TEST(TrcFile, LevelZeroFileHoldsExactlyTheHeaderAndReopeningTruncates) {
  TempDir dir;
  EXPECT_EQ(TrcOpenLibraryFile(u"proc", dir.path16(), 2), dir.path16() + u"/proc_mox.trc");
  MOX_TRC(2, "first run\n");
  TrcCloseLibraryFile();
  EXPECT_EQ(moxTrc.load(), nullptr);

  TrcOpenLibraryFile(u"proc", dir.path16(), 0);
  MOX_TRC(1, "not written %d\n", 1);
  MOX_TRC_ERROR("not written either\n");
  TrcCloseLibraryFile();
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 0));
}

TEST(TrcFile, FallsBackToWorkingDirectoryWhenLogdirCannotBeWritten) {
  TempDir dir;
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::u16string path = TrcOpenLibraryFile(u"pr\u00F6c", dir.path16() + u"/no/such/dir", 1);
  TrcCloseLibraryFile();
  std::filesystem::current_path(saved);
  EXPECT_EQ(path, u"pr\u00F6c_mox.trc");
  // The file system name has "#", the header shows the name as UTF-8.
  EXPECT_EQ(readFile(dir.file("pr#c_mox.trc")), header("pr\xC3\xB6" "c_mox.trc", 1));
}

TEST(TrcFile, UnopenableFileSendsHeaderAndLinesToStderr) {
  TempDir dir;
  const std::string path = dir.file("missing/x_mox.trc");
  StderrCapture capture;
  EXPECT_EQ(TrcOpenFile(std::u16string(path.begin(), path.end()), true, 2), stderr);
  TrcHandle handle = nullptr;
  EXPECT_EQ(CTrcNewComp(u'M', &handle, nullptr), 0);
  DpTrcNoTime(handle, "to stderr\n");
  TrcCloseFile(handle);
  const std::string text = capture.text();
  EXPECT_EQ(text.rfind("*** ERROR => CTrcOpen: fopen " + path + "\n" + header("x_mox.trc", 2), 0), 0u) << text;
  EXPECT_NE(text.find("M  " + threadTag() + "to stderr\n"), std::string::npos) << text;
  EXPECT_NE(fcntl(2, F_GETFD), -1);  // stderr itself stays open
}

TEST(TrcFile, ComponentTableLimitsAndErrors) {
  TempDir dir;
  TrcHandle handle = reinterpret_cast<TrcHandle>(&dir);
  {
    StderrCapture capture;
    EXPECT_EQ(CTrcNewComp(u'M', &handle, nullptr), -1);
    EXPECT_EQ(capture.text(), "*** ERROR => CTrcNewComp: not initialized\n");
    EXPECT_EQ(handle, nullptr);
  }
  TrcOpenFile(dir.path16() + u"/t.trc", true, 1);
  int registered = 0;
  StderrCapture capture;
  while (CTrcNewComp(u'a', &handle, nullptr) == 0 && registered < 5000) ++registered;
  EXPECT_EQ(capture.text(), "*** ERROR => CTrcNewComp: too many comps\n");
  TrcCloseFile(nullptr);
  EXPECT_EQ(registered, 1999);  // entry 0 is never handed out
  EXPECT_EQ(handle, nullptr);
}

TEST(TrcFile, WritesAfterCloseGoToStderr) {
  TempDir dir;
  TrcOpenLibraryFile(u"proc", dir.path16(), 2);
  const TrcHandle stale = moxTrc.load();
  TrcCloseLibraryFile();
  StderrCapture capture;
  MOX_TRC(2, "after exit %d\n", 7);
  DpTrcNoTime(stale, "through a stale handle\n");
  MOX_TRC_ERROR("failed\n");
  const std::string text = capture.text();
  EXPECT_NE(text.find("M  " + threadTag() + "after exit 7\n"), std::string::npos) << text;
  EXPECT_NE(text.find("M  " + threadTag() + "through a stale handle\n"), std::string::npos) << text;
  EXPECT_NE(text.find("*** ERROR => failed [dptrc_file_t "), std::string::npos) << text;
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 2));
}
