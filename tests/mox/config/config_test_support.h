// Fixture for the configuration: a fresh configuration object, temporary configuration and working directories,
// MOX_CONFIG and the working directory restored afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "common/utf.h"
#include "mox/config/config_sources.h"
#include "mox/config/configuration.h"
#include "support/test_files.h"

// "key=value key=value" split at blanks and the first "=".
inline std::vector<std::pair<std::string, std::string>> settings(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream words(text);
  for (std::string word; words >> word;)
    out.emplace_back(word.substr(0, word.find('=')), word.substr(word.find('=') + 1));
  return out;
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* env = getenv("MOX_CONFIG")) savedEnv_ = env;
    unsetenv("MOX_CONFIG");
    std::filesystem::create_directories(configDir_);
    std::filesystem::create_directories(workDir_);
    std::filesystem::current_path(workDir_);
  }
  void TearDown() override {
    std::filesystem::current_path(savedCwd_);
    if (savedEnv_) setenv("MOX_CONFIG", savedEnv_->c_str(), 1);
  }

  // A fresh configuration from the parameter pairs "key=value key=value".
  void configure(const std::string& pairs) {
    fresh();
    std::vector<std::u16string> texts;
    for (const auto& [key, value] : settings(pairs))
      texts.insert(texts.end(), {asciiToUtf16(key), asciiToUtf16(value)});
    std::vector<const char16_t*> pointers;
    for (const std::u16string& text : texts) pointers.push_back(text.c_str());
    configureFromPairs(cfg(), static_cast<uint32_t>(texts.size() / 2), pointers.data());
  }
  // A fresh configuration from the configuration directory holding a mox.conf with these bytes.
  void loadFile(const std::string& bytes) {
    std::ofstream(configDir_ / "mox.conf", std::ios::binary) << bytes;
    load();
  }
  void load(const std::u16string& suffix = u"") {
    fresh();
    configureFromProfileDir(cfg(), asciiToUtf16(configDir_.string()) + suffix);
  }
  CConfiguration& cfg() { return *cfg_; }
  // A new, empty configuration object.
  void fresh() { cfg_ = std::make_unique<CConfiguration>(); }
  std::string value(const char* key) { return utf16ToUtf8Lenient(cfg().getValue(asciiToUtf16(key))); }

  std::unique_ptr<CConfiguration> cfg_ = std::make_unique<CConfiguration>();
  testsupport::TempDir root_;
  const std::filesystem::path configDir_ = root_.file("conf");
  const std::filesystem::path workDir_ = root_.file("work");

 private:
  const std::filesystem::path savedCwd_ = std::filesystem::current_path();
  std::optional<std::string> savedEnv_;
};
