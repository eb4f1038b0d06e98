// Reads the bytes of one top-level element into its tree, with expat, within
// a memory budget (see ElementLimits::maxMemory for what it counts).
//
// parseElement() takes an element whose bytes are all there, in one call. It
// uses one parser per thread, which reads the elements one after another
// inside a root of its own; it is started afresh after an error and every
// 64 KiB, and dropped after a large element, whose buffer it would otherwise
// keep.
//
// ElementParser takes a large element while its bytes arrive, so that the
// work for each piece is in proportion to that piece. It is given only bytes
// that end outside any tag, comment, CDATA section or instruction (a piece of
// text may end inside a character or a reference, which expat keeps, a few
// bytes). Older expat versions (2.5.0 before its reparse fix) read an
// incomplete token again from its start each time more bytes come: fed a
// growing tag piece by piece, they would cost the square of its size. Never
// seeing one, expat reads each byte once on any version; a single tag, comment
// or instruction is read in the call that completes it, so its cost falls on
// the piece that brings its end.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "element.h"
#include "tree_builder.h"

namespace moxcollect {

// True with the tree in `element`, built into the storage it has; false with
// what is wrong in `problem` (the parser's message, or the budget exceeded),
// `element` then holding whatever was read.
bool parseElement(std::string_view bytes, size_t maxMemory, Element& element, std::string& problem);

// Reads complete elements that lie one after another in one buffer, with
// nothing but white space between them, as parseElement() would one by one
// (each within maxMemory, which twice its bytes must fit), but in one call to
// the parser, which costs less than one call per element: the i-th into
// trees[i], built into the storage it has. Returns how many were read; fewer
// than count: the next was refused, with what is wrong in `problem`.
size_t parseRun(const std::string_view* elements, size_t count, size_t maxMemory, Element* trees, std::string& problem);

class ElementParser {
 public:
  explicit ElementParser(size_t maxMemory);
  ~ElementParser();
  ElementParser(const ElementParser&) = delete;
  ElementParser& operator=(const ElementParser&) = delete;

  // Goes on with the element, whose bytes so far are `bytes` (those of the
  // earlier calls and more): counts the new ones against the budget, twice
  // (as received and the parser's copy), and parses them up to `complete`,
  // which must not end inside markup. `last`: the element ends with them,
  // complete is their size. False when the element is refused (problem());
  // after that, nothing more is parsed.
  bool advance(std::string_view bytes, size_t complete, bool last);

  // After advance(..., true) succeeded: the element, moved out.
  Element takeElement();
  const std::string& problem() const { return problem_; }
  // The memory it counts besides the bytes as received: the parser's copy and the tree so far.
  size_t bytesHeld() const;

 private:
  bool refuse(std::string problem);

  ParserHandle parser_;
  Element root_;
  TreeBuilder builder_;
  size_t received_ = 0;  // bytes counted against the budget
  size_t parsed_ = 0;    // bytes given to expat
  std::string problem_;
};

}  // namespace moxcollect
