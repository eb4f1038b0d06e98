// Opening, choosing and closing the trace file; where lines go without one.
#include <gtest/gtest.h>

#include <filesystem>

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

// A file that cannot be opened, and writes after the close, go to stderr.
TEST(TrcFile, WithoutAnOpenFileHeaderAndLinesGoToStderr) {
  TempDir dir;
  trcOpenLibraryFile(u"proc", dir.path16(), 2);
  const TrcHandle stale = moxTrc.load();
  trcCloseLibraryFile();
  const std::string path = dir.file("missing/x_mox.trc");
  StderrCapture capture;
  EXPECT_EQ(TrcOpenFile(std::u16string(path.begin(), path.end()), true, 2), stderr);
  TrcHandle handle = nullptr;
  EXPECT_EQ(CTrcNewComp(u'M', &handle, nullptr), 0);
  DpTrc(handle, "to stderr\n");
  TrcCloseFile(handle);
  MOX_TRC(2, "after exit %d\n", 7);
  DpTrc(stale, "through a stale handle\n");
  MOX_TRC_ERROR("failed\n");
  const std::string text = capture.text();
  EXPECT_EQ(text.rfind("*** ERROR => CTrcOpen: fopen " + path + "\n" + header("x_mox.trc", 2), 0), 0u) << text;
  for (const char* line : {"to stderr\n", "after exit 7\n", "through a stale handle\n"}) {
    EXPECT_NE(text.find("M  " + threadTag() + line), std::string::npos) << line;
  }
  EXPECT_NE(text.find("*** ERROR => failed [dptrc_file_t "), std::string::npos) << text;
  EXPECT_NE(fcntl(2, F_GETFD), -1);  // stderr itself stays open
  EXPECT_EQ(readFile(dir.file("proc_mox.trc")), header("proc_mox.trc", 2));
}

// An empty logdir, or one with a NUL inside, means the working directory.
TEST(TrcFile, EmptyOrNulLogdirPutsTheFileIntoTheWorkingDirectory) {
  TempDir cwd, logdir;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(cwd.path());
  for (const std::u16string& dir : {std::u16string(), logdir.path16() + std::u16string(1, u'\0') + u"sub"}) {
    EXPECT_EQ(trcOpenLibraryFile(u"safety", dir, 1), u"safety_mox.trc");
    trcCloseLibraryFile();
    EXPECT_TRUE(std::filesystem::remove(cwd.file("safety_mox.trc")));
  }
  std::filesystem::current_path(previous);
  EXPECT_FALSE(std::filesystem::exists("/safety_mox.trc"));
  EXPECT_FALSE(std::filesystem::exists(logdir.file("safety_mox.trc")));
}
