// Writes the seed corpus of the epp_deserialize fuzz target: valid streams
// of versions 1, 2 and 3, with variable parts and items of every type.
//   epp_seeds <directory>
// The output is deterministic; CI compares it with fuzz/corpus/epp_deserialize.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "passport/epp.h"

namespace {

void check(int32_t rc, const char* what) {
  if (rc == EPP_OK) return;
  std::fprintf(stderr, "epp_seeds: %s failed with %d\n", what, rc);
  std::exit(1);
}

void text(int32_t (*set)(EppHandle, const char16_t*, size_t), EppHandle h, const std::u16string& value) {
  check(set(h, value.data(), value.size()), "a text setter");
}

void core(EppHandle h, uint8_t version) {
  check(eppSetVersion(h, 3), "eppSetVersion");
  const uint8_t flag[2] = {0x9F, 0x0D};
  check(eppSetTraceFlag(h, flag), "eppSetTraceFlag");
  text(eppSetComponentName, h, u"orders");
  check(eppSetService(h, 17), "eppSetService");
  text(eppSetUserId, h, u"alice");
  text(eppSetAction, h, u"POST /orders/new");
  check(eppSetActionType(h, 2), "eppSetActionType");
  text(eppSetPreComponentName, h, u"gateway-host-1");
  text(eppSetTransactionId, h, u"0123456789ABCDEF0123456789ABCDEF");
  text(eppSetClient, h, u"100");
  uint8_t root[16], connection[16];
  for (uint8_t i = 0; i < 16; ++i) {
    root[i] = static_cast<uint8_t>(i * 17);
    connection[i] = static_cast<uint8_t>(0xF0 ^ i);
  }
  check(eppSetRootContextId(h, root), "eppSetRootContextId");
  check(eppSetConnectionId(h, connection), "eppSetConnectionId");
  check(eppSetConnectionCounter(h, 7), "eppSetConnectionCounter");
  check(eppSetVersion(h, version), "eppSetVersion");
}

void items(EppHandle h) {
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  const uint32_t number = 0xCAFEF00D;
  uint8_t id[16];
  for (uint8_t i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(0xA0 + i);
  const std::u16string word = u"gr\u00FC\u00DFe \u20AC";
  check(eppSetItem(h, 0, 1, 1, EPP_ITEM_BYTES, 5, bytes), "eppSetItem");
  check(eppSetItem(h, 0, 1, 2, EPP_ITEM_NUMBER, 4, &number), "eppSetItem");
  check(eppSetItem(h, 0, 2, 1, EPP_ITEM_ID16, 16, id), "eppSetItem");
  check(eppSetItem(h, 2, 3, 1, EPP_ITEM_STRING, static_cast<uint8_t>(word.size()), word.data()), "eppSetItem");
  check(eppSetItem(h, 2, 3, 2, EPP_ITEM_NUMBER, 4, &number), "eppSetItem");
}

void write(const std::string& dir, const char* name, EppHandle h) {
  size_t needed = 0;
  check(eppNeededNetworkSize(h, &needed), "eppNeededNetworkSize");
  std::vector<uint8_t> stream(needed);
  size_t used = 0;
  check(eppSerialize(h, stream.data(), stream.size(), &used), "eppSerialize");
  const std::string path = dir + "/" + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(stream.data(), 1, used, out) != used || std::fclose(out) != 0) {
    std::fprintf(stderr, "epp_seeds: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  check(eppDelete(h), "eppDelete");
}

EppHandle make(uint8_t version) {
  EppHandle h = nullptr;
  check(eppInit(&h), "eppInit");
  core(h, version);
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: epp_seeds <directory>\n");
    return 2;
  }
  const std::string dir = argv[1];
  check(eppSetEnvironment(8, 3, std::malloc, std::free, nullptr, 0), "eppSetEnvironment");
  write(dir, "v1.bin", make(1));
  write(dir, "v2.bin", make(2));
  write(dir, "v3.bin", make(3));
  EppHandle parts = make(3);
  items(parts);
  write(dir, "v3_parts.bin", parts);
  EppHandle one = make(3);
  const uint32_t number = 1;
  check(eppSetItem(one, 1, 9, 9, EPP_ITEM_NUMBER, 4, &number), "eppSetItem");
  text(eppSetComponentName, one, u"\u00E9t\u00E9-\u6771\u4EAC");
  write(dir, "v3_one_part_wide_name.bin", one);
  return 0;
}
