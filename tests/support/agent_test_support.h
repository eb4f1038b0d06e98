// Test helpers for the agents and metrics: files, configurations from
// key/value pairs and a scoped working directory.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/test_config.h"
#include "support/test_files.h"

namespace agenttest {

using testsupport::countOf;
using testsupport::readFile;
using testsupport::TempDir;

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(getcwd(buf_, sizeof buf_) ? buf_ : "/") {
    if (chdir(dir.c_str()) != 0) old_.clear();
  }
  ~ScopedCwd() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) std::abort();
  }

 private:
  char buf_[4096];
  std::string old_;
};

}  // namespace agenttest
