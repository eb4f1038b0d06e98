#include "element.h"

namespace moxcollect {

Element::~Element() {
  if (children.empty()) return;
  // Each element taken off the list hands its children over before it goes,
  // so none of them is destroyed with a subtree below it.
  std::vector<Element> doomed = std::move(children);
  while (!doomed.empty()) {
    Element last = std::move(doomed.back());
    doomed.pop_back();
    for (Element& child : last.children) doomed.push_back(std::move(child));
  }
}

const std::string* Element::attribute(std::string_view attributeName) const {
  for (const auto& attr : attributes) {
    if (attr.first == attributeName) return &attr.second;
  }
  return nullptr;
}

}  // namespace moxcollect
