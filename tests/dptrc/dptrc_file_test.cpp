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
  EXPECT_EQ(trcOpenLibraryFile(u"proc", dir.path16(), 2), dir.path16() + u"/proc_mox.trc");
  MOX_TRC(2, "first run\n");
  trcCloseLibraryFile();
  EXPECT_EQ(moxTrc.load(), nullptr);

  trcOpenLibraryFile(u"proc", dir.path16(), 0);
  MOX_TRC(1, "not written %d\n", 1);
  MOX_TRC_ERROR("not written either\n");
  trcCloseLibraryFile();
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 0));
}

TEST(TrcFile, UnopenableFileSendsHeaderAndLinesToStderr) {
  TempDir dir;
  const std::string path = dir.file("missing/x_mox.trc");
  StderrCapture capture;
  EXPECT_EQ(TrcOpenFile(std::u16string(path.begin(), path.end()), true, 2), stderr);
  TrcHandle handle = nullptr;
  EXPECT_EQ(CTrcNewComp(u'M', &handle, nullptr), 0);
  DpTrc(handle, "to stderr\n");
  TrcCloseFile(handle);
  const std::string text = capture.text();
  EXPECT_EQ(text.rfind("*** ERROR => CTrcOpen: fopen " + path + "\n" + header("x_mox.trc", 2), 0), 0u) << text;
  EXPECT_NE(text.find("M  " + threadTag() + "to stderr\n"), std::string::npos) << text;
  EXPECT_NE(fcntl(2, F_GETFD), -1);  // stderr itself stays open
}

TEST(TrcFile, WritesAfterCloseGoToStderr) {
  TempDir dir;
  trcOpenLibraryFile(u"proc", dir.path16(), 2);
  const TrcHandle stale = moxTrc.load();
  trcCloseLibraryFile();
  StderrCapture capture;
  MOX_TRC(2, "after exit %d\n", 7);
  DpTrc(stale, "through a stale handle\n");
  MOX_TRC_ERROR("failed\n");
  const std::string text = capture.text();
  EXPECT_NE(text.find("M  " + threadTag() + "after exit 7\n"), std::string::npos) << text;
  EXPECT_NE(text.find("M  " + threadTag() + "through a stale handle\n"), std::string::npos) << text;
  EXPECT_NE(text.find("*** ERROR => failed [dptrc_file_t "), std::string::npos) << text;
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 2));
}
