#include "tree_builder.h"

#include <string_view>
#include <utility>

namespace moxcollect {

namespace {

// What the tree costs, estimated from above: a string keeps up to 15
// characters in place, a longer one is an allocation of its own; an element
// is a slot in its parent's children, which may be twice as many as used.
constexpr size_t kAllocationOverhead = 16;
constexpr size_t kElementCost = 2 * sizeof(Element) + kAllocationOverhead;
constexpr size_t kAttributeCost = sizeof(std::pair<std::string, std::string>);

constexpr size_t kFetchListAhead = 4;
constexpr size_t kFetchTextsAhead = 2;

size_t textCost(std::string_view text) { return text.size() < 16 ? 0 : text.size() + 1 + kAllocationOverhead; }

// The name and the attribute names and values of a start tag, each measured
// once, for the cost and for the copy.
struct Tag {
  std::string_view name;
  std::vector<std::string_view> texts;  // name, value, name, value...
};

// Names mostly repeat those of the element the storage held before (a line
// of the same kind): comparing them costs less than copying.
void assignName(std::string& to, std::string_view from) {
  if (std::string_view(to) != from) to.assign(from);
}

// Assigns into the element's strings and attribute pairs as they are, so
// their storage is reused.
void fill(Element& element, const Tag& tag) {
  assignName(element.name, tag.name);
  const size_t count = tag.texts.size() / 2;
  element.attributes.resize(count);
  for (size_t i = 0; i < count; ++i) {
    assignName(element.attributes[i].first, tag.texts[2 * i]);
    element.attributes[i].second.assign(tag.texts[2 * i + 1]);
  }
  element.children.clear();
}

Tag& measured(const XML_Char* name, const XML_Char** attributes) {
  // One per thread, so that its list keeps its storage from tag to tag.
  thread_local Tag tag;
  tag.name = name;
  // The list of a tag with very many attributes is not kept for the next one.
  if (tag.texts.capacity() > 256) std::vector<std::string_view>().swap(tag.texts);
  tag.texts.clear();
  for (const XML_Char** a = attributes; *a != nullptr; ++a) tag.texts.emplace_back(*a);
  return tag;
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

void TreeBuilder::readRun(const std::string_view* elements, size_t count, Element* roots) {
  run_ = elements;
  runCount_ = count;
  runRoots_ = roots;
  completed_ = 0;
}

bool TreeBuilder::beginRunElement() {
  if (completed_ == runCount_) {
    // The framer found no more elements than these: not reached while both agree.
    stop("more elements than framed");
    return false;
  }
  // The trees of a run mostly hold storage that records had on the writer's
  // core: it is fetched a few elements ahead of filling it.
  if (completed_ + kFetchListAhead < runCount_) prefetchAttributes(runRoots_[completed_ + kFetchListAhead]);
  if (completed_ + kFetchTextsAhead < runCount_) prefetchTexts(runRoots_[completed_ + kFetchTextsAhead]);
  root_ = runRoots_ + completed_;
  used_ = 2 * run_[completed_].size();
  return true;
}

void TreeBuilder::start(const XML_Char* name, const XML_Char** attributes) {
  if (!problem.empty()) return;
  if (depth_ == 0 && run_ != nullptr && !beginRunElement()) return;
  const Tag& tag = measured(name, attributes);
  size_t cost = kElementCost + textCost(tag.name);
  for (const std::string_view text : tag.texts) cost += textCost(text);
  if (!tag.texts.empty()) cost += kAllocationOverhead + tag.texts.size() / 2 * kAttributeCost;
  if (!charge(cost)) return;
  if (depth_ == 0) {
    started_ = true;
    fill(*root_, tag);
  } else {
    fill(open_.emplace_back(), tag);
  }
  ++depth_;
}

void TreeBuilder::end() {
  // expat ends an empty-element tag even when its start stopped the parser.
  if (!problem.empty()) return;
  --depth_;
  if (depth_ == 0) {
    ++completed_;
    return;
  }
  Element done = std::move(open_.back());
  open_.pop_back();
  (open_.empty() ? *root_ : open_.back()).children.push_back(std::move(done));
}

void TreeBuilder::discard() {
  *root_ = Element();
  std::vector<Element>().swap(open_);
}

void TreeBuilder::stop(std::string why) {
  problem = std::move(why);
  XML_StopParser(parser_, XML_FALSE);
}

}  // namespace moxcollect
