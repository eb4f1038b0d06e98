#include "tree_builder.h"

#include <utility>

namespace moxcollect {

namespace {

// What the tree costs, estimated from above: a string keeps up to 15
// characters in place, a longer one is an allocation of its own; an element
// is a slot in its parent's children, which may be twice as many as used.
constexpr size_t kAllocationOverhead = 16;
constexpr size_t kElementCost = 2 * sizeof(Element) + kAllocationOverhead;
constexpr size_t kAttributeCost = sizeof(std::pair<std::string, std::string>);

size_t textCost(const char* text) {
  const size_t length = std::char_traits<char>::length(text);
  return length < 16 ? 0 : length + 1 + kAllocationOverhead;
}

// Assigns into the element's strings and attribute pairs as they are, so
// their storage is reused.
void fill(Element& element, const XML_Char* name, const XML_Char** attributes, size_t count) {
  element.name.assign(name);
  element.attributes.resize(count);
  for (size_t i = 0; i < count; ++i) {
    element.attributes[i].first.assign(attributes[2 * i]);
    element.attributes[i].second.assign(attributes[2 * i + 1]);
  }
  element.children.clear();
}

}  // namespace

std::string overBudget(size_t maxMemory) {
  return "element needs more than " + std::to_string(maxMemory) + " bytes of memory";
}

void TreeBuilder::attach() {
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, &TreeBuilder::onStart, &TreeBuilder::onEnd);
}

bool TreeBuilder::charge(size_t cost) {
  used_ += cost;
  if (used_ <= budget_) return true;
  stop(overBudget(budget_));
  return false;
}

void XMLCALL TreeBuilder::onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
  auto* builder = static_cast<TreeBuilder*>(self);
  try {
    builder->start(name, attributes);
  } catch (...) {
    builder->stop("out of memory");
  }
}

void XMLCALL TreeBuilder::onEnd(void* self, const XML_Char*) {
  auto* builder = static_cast<TreeBuilder*>(self);
  try {
    builder->end();
  } catch (...) {
    builder->stop("out of memory");
  }
}

void TreeBuilder::start(const XML_Char* name, const XML_Char** attributes) {
  if (!problem.empty()) return;
  size_t count = 0;
  size_t cost = kElementCost + textCost(name);
  for (const XML_Char** a = attributes; a[0] != nullptr; a += 2, ++count) {
    cost += kAttributeCost + textCost(a[0]) + textCost(a[1]);
  }
  if (count > 0) cost += kAllocationOverhead;
  if (!charge(cost)) return;
  if (depth_ == 0) {
    started_ = true;
    fill(root_, name, attributes, count);
  } else {
    fill(open_.emplace_back(), name, attributes, count);
  }
  ++depth_;
}

void TreeBuilder::end() {
  // expat ends an empty-element tag even when its start stopped the parser.
  if (!problem.empty()) return;
  --depth_;
  if (depth_ == 0) return;
  Element done = std::move(open_.back());
  open_.pop_back();
  (open_.empty() ? root_ : open_.back()).children.push_back(std::move(done));
}

void TreeBuilder::discard() {
  root_ = Element();
  std::vector<Element>().swap(open_);
}

void TreeBuilder::stop(std::string why) {
  problem = std::move(why);
  XML_StopParser(parser_, XML_FALSE);
}

}  // namespace moxcollect
