// Produced trace text with what varies from run to run replaced, so that the rest compares exactly: a start time
// becomes T, a measured CPU time N (an unmeasured -1 stays), and with durations also every duration and offset N.
#pragma once

#include <regex>
#include <string>

namespace testsupport {

inline std::string normalisedTrace(const std::string& text, bool durations = false) {
  static const std::regex startTime(R"re(startTime="\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{3})?")re");
  static const std::regex cpuTime(R"re(("CPU Time \(us\)" value=")\d+)re");
  static const std::regex times(R"re((duration|offset)="-?\d+")re");
  std::string out = std::regex_replace(text, startTime, "startTime=\"T\"");
  out = std::regex_replace(out, cpuTime, "$1N");
  return durations ? std::regex_replace(out, times, "$1=\"N\"") : out;
}

}  // namespace testsupport
