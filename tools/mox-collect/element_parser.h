// Reads the bytes of one complete top-level element into its tree, with expat,
// within a memory budget (see ElementLimits::maxMemory for what it counts).
//
// The bytes go to the parser in one final call, so the parser never waits
// for more input and its cost is linear in the element's size whatever
// version of expat is installed. It keeps nothing between elements, so one
// parser per thread serves every stream of that thread; it is reset between
// elements and dropped after a large one, whose buffer it would otherwise keep.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "element.h"

namespace moxcollect {

// True with the tree in `element`; false with what is wrong in `problem`
// (the parser's message, or the budget exceeded).
bool parseElement(std::string_view bytes, size_t maxMemory, Element& element, std::string& problem);

}  // namespace moxcollect
