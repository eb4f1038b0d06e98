// Helpers for export-level tests that look at this process from outside (its resident size) or run a part of a test in
// a forked child. POSIX only.
#pragma once

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "e2e/e2e_support.h"
#include "support/child_process.h"

namespace e2e {

// The resident size of this process.
inline long residentKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs child in a forked process and returns its exit status: -1 when it did not exit by itself, -2 when it hung past
// limit (it is killed, so that a hang fails the test instead of stalling the suite).
inline int inChild(const std::function<int()>& child, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const testsupport::ChildEnd end = testsupport::runInChild(child, limit);
  return end.timedOut ? -2 : end.exitCode;
}

}  // namespace e2e
