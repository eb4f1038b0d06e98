// What one top-level element of a peer's stream may cost. An element over any
// limit is dropped as malformed; the stream goes on after the next line feed.
#pragma once

#include <cstddef>

namespace moxcollect {

struct ElementLimits {
  // Its bytes as received. The largest trace the library sends is far below.
  size_t maxBytes = size_t{64} << 20;

  // How deeply elements may nest, the top-level element being level 1. The
  // library's traces nest at most max_components_per_transaction calls deep
  // (5000 by default) plus the event and a param; twice that default leaves
  // room for a raised setting while keeping the parser's and the collector's
  // per-level bookkeeping small.
  size_t maxDepth = 10000;

  // The memory one element takes while it is parsed and handed over: its
  // bytes twice (as received and the parser's copy) plus its tree, counted as
  // about 180 bytes per element and 70 per attribute besides the names and
  // values. Four times the byte limit: a trace of the library's largest shape
  // takes a few MiB, while an element of empty children, which costs 40 times
  // its bytes once parsed, is refused long before it reaches gigabytes.
  size_t maxMemory = size_t{256} << 20;
};

}  // namespace moxcollect
