// moxprofile::CProfile: one configuration source, turned into a table of
// (key, value) parameters that the configuration object merges in order.
#pragma once

#include <cstdint>

#include "mox/config/parameter.h"

class CConfiguration;

namespace moxprofile {

constexpr int32_t kProfileNotRead = 0;
constexpr int32_t kProfileRead = 1;
constexpr int32_t kProfileNotOpened = 2;

class CProfile {
 public:
  // Fills target with a copy of the profile's parameters, reading the input
  // first where the source needs to (the configuration gives the directory).
  // Never throws; a source that cannot be read leaves target as it was.
  virtual ParameterMap& load(ParameterMap& target, const CConfiguration& cfg) = 0;
  // kProfileNotRead, kProfileRead or kProfileNotOpened.
  virtual int32_t getStatus() const = 0;
  virtual ~CProfile() = default;

 protected:
  int32_t status_ = kProfileNotRead;
  ParameterMap parameters_;
};

}  // namespace moxprofile
