// Helpers for tests that drive the library through its exported functions only.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mox.h"

namespace e2e {

inline std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string line;
  while (std::getline(ss, line)) out.push_back(line);
  return out;
}

inline int countOf(const std::string& text, const std::string& piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// Compares line by line: entries starting with "re:" are regular expressions.
inline void expectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i].rfind("re:", 0) == 0) {
      EXPECT_TRUE(std::regex_match(actual[i], std::regex(expected[i].substr(3)))) << "line " << i << ": " << actual[i];
    } else {
      EXPECT_EQ(actual[i], expected[i]) << "line " << i;
    }
  }
}

// Polls until pred holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// Each test runs in its own temporary working directory, which also serves as
// the log directory, and ends the library whatever happened.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mox-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    unsetenv("MOX_CONFIG");
  }
  void TearDown() override {
    MOX_ProcExit();
    std::filesystem::current_path(previous_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Initialises with parameter pairs; logdir and the file agent are always set.
  void initWith(std::vector<std::pair<std::string, std::string>> extra, const std::string& name = "e2e",
                int16_t instance = 0) {
    std::vector<std::pair<std::string, std::string>> all = {{"logdir", dir_.string()}, {"datasending_method", "file"}};
    all.insert(all.end(), extra.begin(), extra.end());
    storage_.clear();
    for (auto& [k, v] : all) {
      storage_.push_back(widen(k));
      storage_.push_back(widen(v));
    }
    pointers_.clear();
    for (auto& s : storage_) pointers_.push_back(s.c_str());
    MOX_ProcInitWithParam(widen(name).c_str(), instance, static_cast<uint32_t>(all.size()), pointers_.data());
  }

  std::string traceFile(const std::string& name = "e2e") const { return readFile(dir_ / (name + "_mox.trc")); }
  std::string metricFile(const std::string& name = "e2e") const { return readFile(dir_ / (name + "_mtdata.log")); }

  std::filesystem::path dir_;
  std::filesystem::path previous_;
  std::vector<std::u16string> storage_;
  std::vector<const mox_char*> pointers_;
};

}  // namespace e2e
