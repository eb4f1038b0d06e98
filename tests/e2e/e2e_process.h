// Helpers for export-level tests that look at this process from outside
// (its resident size) or run a part of a test in a forked child. POSIX only.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "e2e/e2e_support.h"

namespace e2e {

// The resident size of this process.
inline long residentKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs child in a forked process and returns its exit status (-1: it did not exit).
inline int inChild(const std::function<int()>& child) {
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace e2e
