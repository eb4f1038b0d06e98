// A settable time source and a fixture with an open library trace file.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "dptrc/dptrc.h"
#include "support/test_files.h"
#include "thr/thr.h"

namespace trctest {

using testsupport::readFile;
using testsupport::TempDir;

inline std::atomic<time_t> fakeSecond{1700000000};
inline time_t fakeTime() { return fakeSecond.load(); }

inline std::string threadTag() { return "[Thr " + std::to_string(ThrGetCurrentId()) + "] "; }

// The 24-character local time text of the time-stamp lines, from the C library.
inline std::string ascTime(time_t second) {
  tm local{};
  char text[32];
  return std::string(asctime_r(localtime_r(&second, &local), text), 24);
}

// "test_mox.trc" in a temporary directory, the clock at a fixed second; no size limit afterwards.
class TrcFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    trcCloseLibraryFile();
    trcSetTimeSource(nullptr);
    trcSetFileSizeLimit(0);
  }
  void open(int level) {
    fakeSecond = 1700000000;
    trcSetTimeSource(fakeTime);
    trcOpenLibraryFile(u"test", dir_.path16(), level);
  }
  // Everything after the header (empty line, dashes, text, dashes).
  std::string written() const {
    const std::string text = readFile(dir_.file("test_mox.trc"));
    size_t at = 0;
    for (int i = 0; i < 4; ++i) at = text.find('\n', at) + 1;
    return text.substr(at);
  }
  // Written lines; stamps selects the time-stamp lines, otherwise the others.
  std::vector<std::string> lines(bool stamps = false) const {
    std::vector<std::string> kept;
    std::istringstream in(written());
    for (std::string line; std::getline(in, line);) {
      if ((line.rfind("M [Thr ", 0) == 0) == stamps) kept.push_back(line);
    }
    return kept;
  }
  // The non-stamp lines, each with its line feed.
  std::string body() const {
    std::string text;
    for (const std::string& line : lines()) text += line + "\n";
    return text;
  }

  TempDir dir_;
  const std::string m_ = "M  " + threadTag();  // the start of a line of the calling thread
};

}  // namespace trctest
