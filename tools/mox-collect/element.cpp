#include "element.h"

#include <cstdint>

#include "prefetch.h"

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

size_t heapBytes(const Element& element) {
  if (!element.children.empty()) return SIZE_MAX;
  size_t bytes = heapBytes(element.name) + element.attributes.capacity() * sizeof(element.attributes[0]);
  for (const auto& attribute : element.attributes) bytes += heapBytes(attribute.first) + heapBytes(attribute.second);
  return bytes;
}

void prefetchAttributes(const Element& element) {
  prefetchBytes(element.attributes.data(), element.attributes.size() * sizeof(element.attributes[0]));
}

void prefetchTexts(const Element& element) {
  for (const auto& attribute : element.attributes) {
    if (heapBytes(attribute.second) > 0) prefetchBytes(attribute.second.data(), attribute.second.size());
  }
}

}  // namespace moxcollect
