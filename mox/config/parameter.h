// One entry of a parameter table: a key with its text value.
#pragma once

#include <map>
#include <string>

struct CParameter {
  std::u16string name;
  std::u16string value;
  // Whether the run-time setter may replace the value.
  bool changeable = false;
};

// Parameter tables are ordered by key (exact, case-sensitive UTF-16).
using ParameterMap = std::map<std::u16string, CParameter>;
