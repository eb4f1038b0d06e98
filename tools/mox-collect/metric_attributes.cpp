#include "metric_attributes.h"

#include <algorithm>
#include <cstring>

namespace moxcollect {

namespace {

// Keeps the first attribute of a name: a later duplicate does not replace it.
void keep(uint32_t& slot, size_t index) {
  if (slot == AttributePlaces::kAbsent) slot = static_cast<uint32_t>(index);
}

// Whether a name of the literal's length is the literal: a comparison of
// known length, which the compiler does in place.
template <size_t N>
bool is(const std::string& name, const char (&literal)[N]) {
  return std::memcmp(name.data(), literal, N - 1) == 0;
}

const std::string* at(const Element& element, uint32_t index) {
  return index < element.attributes.size() ? &element.attributes[index].second : nullptr;
}

}  // namespace

AttributePlaces attributePlaces(const Element& element) {
  AttributePlaces found;
  found.found = true;
  // Indices past the range of the places are not metric lines the library writes.
  const size_t count = std::min<size_t>(element.attributes.size(), AttributePlaces::kAbsent);
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = element.attributes[i].first;
    // The length picks the candidates.
    switch (name.size()) {
      case 3:
        if (is(name, "max")) keep(found.max, i);
        if (is(name, "min")) keep(found.min, i);
        break;
      case 4:
        if (is(name, "type")) keep(found.type, i);
        if (is(name, "name")) keep(found.name, i);
        break;
      case 5:
        if (is(name, "value")) keep(found.value, i);
        if (is(name, "count")) keep(found.count, i);
        break;
      default: break;
    }
  }
  return found;
}

MetricAttributes metricAttributes(const Element& element, const AttributePlaces& places) {
  if (!places.found) return metricAttributes(element, attributePlaces(element));
  MetricAttributes found;
  found.type = at(element, places.type);
  found.name = at(element, places.name);
  found.value = at(element, places.value);
  found.max = at(element, places.max);
  found.min = at(element, places.min);
  found.count = at(element, places.count);
  return found;
}

MetricAttributes metricAttributes(const Element& element) {
  return metricAttributes(element, attributePlaces(element));
}

}  // namespace moxcollect
