#include "metric_attributes.h"

#include <cstring>

namespace moxcollect {

namespace {

// Keeps the first attribute of a name: a later duplicate does not replace it.
void keep(const std::string*& slot, const std::string& value) {
  if (slot == nullptr) slot = &value;
}

// Whether a name of the literal's length is the literal: a comparison of
// known length, which the compiler does in place.
template <size_t N>
bool is(const std::string& name, const char (&literal)[N]) {
  return std::memcmp(name.data(), literal, N - 1) == 0;
}

}  // namespace

MetricAttributes metricAttributes(const Element& element) {
  MetricAttributes found;
  for (const auto& [name, value] : element.attributes) {
    // The length picks the candidates.
    switch (name.size()) {
      case 3:
        if (is(name, "max")) keep(found.max, value);
        if (is(name, "min")) keep(found.min, value);
        break;
      case 4:
        if (is(name, "type")) keep(found.type, value);
        if (is(name, "name")) keep(found.name, value);
        break;
      case 5:
        if (is(name, "value")) keep(found.value, value);
        if (is(name, "count")) keep(found.count, value);
        break;
      default: break;
    }
  }
  return found;
}

}  // namespace moxcollect
