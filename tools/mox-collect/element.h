// One XML element as received from a library stream: its name, its
// attributes in document order (values already unescaped by the parser) and
// its child elements. Character data is not kept: the library sends none.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace moxcollect {

struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<Element> children;

  Element() = default;
  Element(Element&&) noexcept = default;
  Element& operator=(Element&&) noexcept = default;
  // A copy recurses, as deep as the tree: the splitter's depth limit bounds it.
  Element(const Element&) = default;
  Element& operator=(const Element&) = default;
  // Frees the tree without recursion, however deep it is.
  ~Element();

  // The value of the first attribute of that name, or null.
  const std::string* attribute(std::string_view attributeName) const;
};

// The memory a flat element holds outside its fixed size, roughly (the
// storage of its strings and its attribute list); SIZE_MAX for one with
// children, whose tree is not walked. Decides whether storage is kept to be
// filled again.
size_t heapBytes(const Element& element);
// Asks the processor to fetch, ahead of their use, an element's attribute list
// or the long texts in it (reached through the list, so fetch the list first):
// storage that was last used on another core, where a use of it waits for each.
void prefetchAttributes(const Element& element);
void prefetchTexts(const Element& element);
// The same for one string: a short one lives inside the object.
inline size_t heapBytes(const std::string& text) { return text.capacity() > 15 ? text.capacity() + 1 : 0; }

}  // namespace moxcollect
