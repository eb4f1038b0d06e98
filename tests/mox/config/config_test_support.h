// Test fixture for the configuration: a fresh configuration object, a
// temporary configuration directory and a temporary working directory, with
// MOX_CONFIG and the working directory restored afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "common/utf.h"
#include "mox/config/configuration.h"

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CConfiguration::destroyInstance();
    savedCwd_ = std::filesystem::current_path();
    if (const char* env = getenv("MOX_CONFIG")) savedEnv_ = env;
    root_ = makeTempDir();
    configDir_ = root_ / "conf";
    workDir_ = root_ / "work";
    std::filesystem::create_directories(configDir_);
    std::filesystem::create_directories(workDir_);
    std::filesystem::current_path(workDir_);
    unsetenv("MOX_CONFIG");
  }

  void TearDown() override {
    CConfiguration::destroyInstance();
    std::filesystem::current_path(savedCwd_);
    if (savedEnv_) {
      setenv("MOX_CONFIG", savedEnv_->c_str(), 1);
    } else {
      unsetenv("MOX_CONFIG");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  static void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  CConfiguration& cfg() { return *CConfiguration::getInstance(); }
  std::string value(const char* key) { return utf16ToUtf8Lenient(cfg().getValue(asciiToUtf16(key))); }
  std::u16string configDir16() const { return asciiToUtf16(configDir_.string()); }

  std::filesystem::path root_;
  std::filesystem::path configDir_;
  std::filesystem::path workDir_;

 private:
  static std::filesystem::path makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "moxcfgXXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    return pattern;
  }

  std::filesystem::path savedCwd_;
  std::optional<std::string> savedEnv_;
};
