// The attributes of a metric line that the collector reads, found in one pass
// over the element's attributes rather than one look-up each. The loop thread
// finds them once and the record carries where they are (AttributePlaces), so
// the writer thread resolves them without walking the attributes again.
#pragma once

#include <cstdint>
#include <string>

#include "element.h"

namespace moxcollect {

struct MetricAttributes {
  // Null when absent; the first of each name, as Element::attribute() finds it.
  const std::string* type = nullptr;
  const std::string* name = nullptr;
  const std::string* value = nullptr;
  const std::string* max = nullptr;
  const std::string* min = nullptr;
  const std::string* count = nullptr;
};

// Where each of those attributes is in the element's list: indices rather
// than pointers, so that they stay right when a record is copied.
struct AttributePlaces {
  static constexpr uint32_t kAbsent = UINT32_MAX;
  bool found = false;  // false: not looked for yet (e.g. a record made by hand)
  uint32_t type = kAbsent;
  uint32_t name = kAbsent;
  uint32_t value = kAbsent;
  uint32_t max = kAbsent;
  uint32_t min = kAbsent;
  uint32_t count = kAbsent;
};

AttributePlaces attributePlaces(const Element& element);
// The attributes at those places; looks for them when the places were not found yet.
MetricAttributes metricAttributes(const Element& element, const AttributePlaces& places);
MetricAttributes metricAttributes(const Element& element);

}  // namespace moxcollect
