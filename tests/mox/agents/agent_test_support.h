// Test helpers for the agents and metrics: a temporary directory, file
// reading, a configuration from key/value pairs and a process name.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/utf.h"
#include "mox/agents/process_name_source.h"
#include "mox/config/configuration.h"
#include "mox/config/memory_profile.h"

namespace agenttest {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/mox_agents_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::u16string path16() const { return asciiToUtf16(path_); }

 private:
  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Replaces the process-wide configuration with one made of these pairs only.
inline void configure(const std::vector<std::pair<std::u16string, std::u16string>>& pairs) {
  CConfiguration::destroyInstance();
  std::vector<CParameter> entries;
  for (const auto& pair : pairs) entries.push_back(CParameter{pair.first, pair.second, false});
  CConfiguration* cfg = CConfiguration::getInstance();
  cfg->addProfile(std::make_unique<moxprofile::CMemoryProfile>(entries));
  cfg->loadProfiles();
  cfg->applyValues();
}

// Runs the body with the current directory set to dir.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) {
    char buf[4096];
    old_ = getcwd(buf, sizeof buf) ? buf : "/";
    if (chdir(dir.c_str()) != 0) old_.clear();
  }
  ~ScopedCwd() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) std::abort();
  }

 private:
  std::string old_;
};

// The process name the agents see; a plain function pointer needs a global.
inline std::u16string& processName() {
  static std::u16string name;
  return name;
}
inline std::u16string processNameSource() { return processName(); }
inline void setProcessName(const std::u16string& name) {
  processName() = name;
  setProcessNameSource(&processNameSource);
}

}  // namespace agenttest
