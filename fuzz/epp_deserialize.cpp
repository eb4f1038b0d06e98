// Fuzz target: any byte stream given to eppDeserialize. Besides the
// sanitizers' findings it checks that a refused stream hands out no
// passport, and that an accepted one serialises, reads back and serialises
// again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "passport/epp.h"

namespace {

// Lines are formatted (the formatting is fuzzed too) and then dropped.
void dropLine(const char16_t* line) {
  volatile char16_t first = line[0];
  (void)first;
}

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<uint8_t> serialize(EppHandle passport) {
  size_t needed = 0;
  require(eppNeededNetworkSize(passport, &needed) == EPP_OK);
  std::vector<uint8_t> out(needed);
  size_t used = 0;
  require(eppSerialize(passport, out.data(), out.size(), &used) == EPP_OK);
  require(used == needed);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  require(eppSetEnvironment(8, 3, std::malloc, std::free, dropLine, 3) == EPP_OK);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy on the heap, so that a read past the end is caught.
  const std::vector<uint8_t> stream(data, data + size);
  EppHandle passport = reinterpret_cast<EppHandle>(&passport);
  if (eppDeserialize(stream.data(), stream.size(), &passport) != EPP_OK) {
    require(passport == nullptr);
    return 0;
  }
  const std::vector<uint8_t> first = serialize(passport);
  EppHandle again = nullptr;
  require(eppDeserialize(first.data(), first.size(), &again) == EPP_OK);
  require(serialize(again) == first);
  require(eppDelete(again) == EPP_OK);
  require(eppDelete(passport) == EPP_OK);
  return 0;
}
