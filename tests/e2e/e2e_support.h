// Helpers for tests that drive the library through its exported functions only.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mox.h"
#include "support/test_files.h"

namespace e2e {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;
using testsupport::readFile;
using testsupport::waitUntil;

// The line every start sends first (library "e2e", instance 0).
inline const std::string kVersion =
    "<metric type=\"StringEvent\" name=\"VEL_MOX|e2e_0:MOX library version\" value=\"2.3.6\" />";

inline std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

inline Lines lines(const std::string& text) {
  Lines out;
  std::istringstream ss(text);
  for (std::string line; std::getline(ss, line);) out.push_back(line);
  return out;
}

// A metric line of library "e2e", instance 0; value may carry further attributes after the number.
inline std::string metric(const std::string& type, const std::string& name, const std::string& value) {
  return "<metric type=\"" + type + "\" name=\"VEL_MOX|e2e_0|" + name + "\" value=\"" + value + "\" />";
}
inline std::string timing(const std::string& key, const std::string& label, const std::string& value) {
  return metric("IntAverage", key + ":" + label, value);
}
// A resource's current value with its watermarks and count.
inline std::string resource(const std::string& name, int64_t current, int64_t max, int64_t min, uint32_t count) {
  const auto text = [](int64_t n) { return std::to_string(n); };
  return metric("LongCounter", name + ":Current Value",
                text(current) + "\" max=\"" + text(max) + "\" min=\"" + text(min) + "\" count=\"" + text(count));
}
// The lines with their elapsed times, which vary from run to run, as N.
inline Lines withTimesAsN(Lines lines) {
  static const std::regex times(R"re((Elapsed Time\(ms\)" value=")-?\d+" max="-?\d+" min="-?\d+)re");
  for (std::string& line : lines) line = std::regex_replace(line, times, "$1N\" max=\"N\" min=\"N");
  return lines;
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
  const std::vector<long> values = valuesOf(text, "|" + key + ":Finished Counter");
  return std::accumulate(values.begin(), values.end(), 0L);
}

// Starts the library with exactly these parameter pairs.
inline void initLibrary(const Pairs& pairs, const std::string& name = "e2e", int16_t instance = 0) {
  std::vector<std::u16string> storage;
  for (const auto& [k, v] : pairs) storage.insert(storage.end(), {widen(k), widen(v)});
  std::vector<const mox_char*> pointers;
  for (const auto& s : storage) pointers.push_back(s.c_str());
  MOX_ProcInitWithParam(widen(name).c_str(), instance, static_cast<uint32_t>(pairs.size()), pointers.data());
}

// Each test runs in a temporary working and log directory and ends the library whatever happened.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(dir_);
    unsetenv("MOX_CONFIG");
  }
  void TearDown() override {
    MOX_ProcExit();
    std::filesystem::current_path(previous_);
  }

  void initPairs(const Pairs& pairs, const std::string& name = "e2e", int16_t instance = 0) {
    initLibrary(pairs, name, instance);
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
  std::string traceFile(const std::string& name = "e2e") const {
    return readFile((dir_ / (name + "_mox.trc")).string());
  }
  std::string metricFile(const std::string& name = "e2e") const {
    return readFile((dir_ / (name + "_mtdata.log")).string());
  }

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
  const std::filesystem::path previous_ = std::filesystem::current_path();
  size_t seen_ = 0;
};

}  // namespace e2e
