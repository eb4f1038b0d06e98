#include "element.h"

namespace moxcollect {

const std::string* Element::attribute(std::string_view attributeName) const {
  for (const auto& attr : attributes) {
    if (attr.first == attributeName) return &attr.second;
  }
  return nullptr;
}

}  // namespace moxcollect
