// Asks the processor to fetch memory ahead of its use: for storage that the
// other thread of the collector used last, where each first touch waits for
// another core's cache.
#pragma once

#include <cstddef>

namespace moxcollect {

inline void prefetchBytes(const void* begin, size_t bytes) {
  constexpr size_t kCacheLine = 64;
  const char* at = static_cast<const char*>(begin);
  for (size_t offset = 0; offset < bytes; offset += kCacheLine) __builtin_prefetch(at + offset);
}

}  // namespace moxcollect
