// Helpers for tests that drive the library through its exported functions only.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "mox.h"
#include "support/test_files.h"

namespace e2e {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The line every start sends first (library "e2e", instance 0).
inline const std::string kVersion =
    "<metric type=\"StringEvent\" name=\"VEL_MOX|e2e_0:MOX library version\" value=\"2.3.6\" />";

inline std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

using testsupport::readFile;
using testsupport::waitUntil;

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream ss(text);
  for (std::string line; std::getline(ss, line);) out.push_back(line);
  return out;
}

inline int countOf(const std::string& text, const std::string& piece) {
  return static_cast<int>(testsupport::countOf(text, piece));
}

// The numeric values of every metric whose name ends in nameEnd, in file order.
inline std::vector<long> valuesOf(const std::string& text, const std::string& nameEnd) {
  std::vector<long> found;
  const std::string at = nameEnd + "\" value=\"";
  for (size_t i = text.find(at); i != std::string::npos; i = text.find(at, i + 1)) {
    found.push_back(std::stol(text.substr(i + at.size())));
  }
  return found;
}

inline long sumOf(const std::string& text, const std::string& key) {
  long sum = 0;
  for (long v : valuesOf(text, "|" + key + ":Finished Counter")) sum += v;
  return sum;
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

// Each test runs in its own temporary working directory, which also serves as
// the log directory, and ends the library whatever happened.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    unsetenv("MOX_CONFIG");
  }
  void TearDown() override {
    MOX_ProcExit();
    std::filesystem::current_path(previous_);
  }

  // Initialises with exactly these parameter pairs.
  void initPairs(const Pairs& pairs, const std::string& name = "e2e", int16_t instance = 0) {
    storage_.clear();
    for (const auto& [k, v] : pairs) storage_.insert(storage_.end(), {widen(k), widen(v)});
    pointers_.clear();
    for (const auto& s : storage_) pointers_.push_back(s.c_str());
    MOX_ProcInitWithParam(widen(name).c_str(), instance, static_cast<uint32_t>(pairs.size()), pointers_.data());
  }
  // The same with logdir and the file agent set first.
  void initWith(const Pairs& extra, const std::string& name = "e2e", int16_t instance = 0) {
    Pairs all = {{"logdir", dir_.string()}, {"datasending_method", "file"}};
    all.insert(all.end(), extra.begin(), extra.end());
    initPairs(all, name, instance);
  }

  std::string parameter(const char16_t* name) const {
    mox_char buffer[64] = {};
    MOX_getSingleParameterValue(name, buffer, 64);
    return narrow(buffer);
  }
  std::string traceFile(const std::string& name = "e2e") const { return readFile(dir_ / (name + "_mox.trc")); }
  std::string metricFile(const std::string& name = "e2e") const { return readFile(dir_ / (name + "_mtdata.log")); }

  // Sends the current interval and returns the metric lines written since the last call.
  std::vector<std::string> nextInterval() {
    MOX_outputMetricData();
    const std::vector<std::string> all = lines(metricFile());
    std::vector<std::string> added(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return added;
  }

  testsupport::TempDir tmp_;
  const std::filesystem::path dir_ = tmp_.path();
  std::filesystem::path previous_;
  std::vector<std::u16string> storage_;
  std::vector<const mox_char*> pointers_;
  size_t seen_ = 0;
};

}  // namespace e2e
