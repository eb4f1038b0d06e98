// Test helpers for the agents and metrics: files, configurations from key/value pairs and a scoped working directory.
#pragma once

#include <filesystem>
#include <string>

#include "support/test_config.h"
#include "support/test_files.h"

namespace agenttest {

using testsupport::countOf;
using testsupport::readFile;
using testsupport::TempDir;

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) { std::filesystem::current_path(dir); }
  ~ScopedCwd() { std::filesystem::current_path(old_); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  const std::filesystem::path old_ = std::filesystem::current_path();
};

}  // namespace agenttest
