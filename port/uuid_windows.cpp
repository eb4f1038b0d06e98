// UuidCreateSequential, looked up in rpcrt4.dll when first needed, so that a
// host that never makes a GUID does not load the RPC runtime.
#include <windows.h>

#include <atomic>

#include "port/uuid.h"

namespace {

// The system's UUID as rpcrt4 lays it out: the first three fields in the
// processor's byte order.
struct SystemUuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
using CreateSequential = long(WINAPI*)(SystemUuid*);

constexpr long kRpcOk = 0;
constexpr long kRpcLocalOnly = 1824;  // no network card: unique on this host only

CreateSequential lookUp() {
  HMODULE rpc = LoadLibraryW(L"rpcrt4.dll");
  if (rpc == nullptr) return nullptr;
  return reinterpret_cast<CreateSequential>(reinterpret_cast<void*>(GetProcAddress(rpc, "UuidCreateSequential")));
}

CreateSequential createSequential() {
  static const CreateSequential fn = lookUp();  // the library stays loaded
  return fn;
}

void putBigEndian(uint64_t value, int bytes, uint8_t* out) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

}  // namespace

bool portTimeBasedUuid(uint8_t uuid[16]) {
  const CreateSequential create = createSequential();
  if (create == nullptr) return false;
  SystemUuid u{};
  const long rc = create(&u);
  if (rc != kRpcOk && rc != kRpcLocalOnly) return false;
  putBigEndian(u.data1, 4, uuid);
  putBigEndian(u.data2, 2, uuid + 4);
  putBigEndian(u.data3, 2, uuid + 6);
  for (int i = 0; i < 8; ++i) uuid[8 + i] = u.data4[i];
  // Not every implementation of the call marks the variant (binary 10 at the
  // top of the clock sequence): it is marked here, as the standard lays out.
  uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3F) | 0x80);
  return true;
}
