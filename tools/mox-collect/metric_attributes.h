// The attributes of a metric line that the collector reads, found in one pass
// over the element's attributes rather than one look-up each: a line is read
// on the loop thread and again on the writer thread, and the look-ups were a
// good part of that work.
#pragma once

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

MetricAttributes metricAttributes(const Element& element);

}  // namespace moxcollect
