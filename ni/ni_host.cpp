// Host names to addresses: numeric forms directly, other names through the
// name buffer and the system resolver.
#include <string.h>

#include <algorithm>
#include <string_view>

#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "ni/ni_internal.h"
#include "ni/ni_name_buffer.h"
#include "port/socket.h"

namespace {

constexpr size_t kMaxHostChars = 63;
constexpr char kFunc[] = "NiHostToAddr";

NiHostAddr mappedIPv4(const in_addr& v4) {
  NiHostAddr addr{};
  addr.bytes[10] = 0xff;
  addr.bytes[11] = 0xff;
  memcpy(&addr.bytes[12], &v4, 4);
  return addr;
}

NiHostAddr fromSockaddr(const sockaddr* sa) {
  if (sa->sa_family == AF_INET) return mappedIPv4(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr);
  NiHostAddr addr{};
  memcpy(addr.bytes, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, 16);
  return addr;
}

// The system resolver; true with the first address it gives.
bool lookUp(const std::string& name, bool ipv6, NiHostAddr* addr) {
  addrinfo hints{};
  hints.ai_family = ipv6 ? AF_UNSPEC : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
  bool found = false;
  for (addrinfo* ai = list; ai != nullptr && !found; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET || ai->ai_family == AF_INET6) {
      *addr = fromSockaddr(ai->ai_addr);
      found = true;
    }
  }
  freeaddrinfo(list);
  return found;
}

NiHostAddr ipv4Loopback() {
  in_addr v4{};
  v4.s_addr = htonl(INADDR_LOOPBACK);
  return mappedIPv4(v4);
}

int unknownHost(const std::string& name, int traceLevel) {
  return NI_RECORD(kFunc, NIEHOST_UNKNOWN, name, "", 0, traceLevel);
}

// Names that are not in a numeric form.
int resolveName(const std::string& name, NiHostAddr* addr) {
  const bool ipv6 = niIPv6Active();
  switch (niNameBufferFind(name, ipv6, addr)) {
    case NiBuffered::resolved: return VEL_O_K;
    case NiBuffered::failed: return unknownHost(name, 2);  // reported when it first failed
    case NiBuffered::none: break;
  }
  NiHostAddr found{};
  bool ok = lookUp(name, ipv6, &found);
  // A machine without /etc/hosts (a fresh container or chroot) may not resolve
  // "localhost"; it is the loopback address whatever the resolver says.
  if (!ok && niIsLoopbackName(name)) {
    found = ipv4Loopback();
    ok = true;
  }
  niNameBufferStore(name, ipv6, ok, found);
  if (!ok) return unknownHost(name, 1);
  *addr = found;
  return VEL_O_K;
}

int hostToAddr(const char16_t* host, NiHostAddr* addr) {
  if (host == nullptr) return NI_RECORD(kFunc, NIEINVAL, "", "parameter invalid (pHostName == NULL)");
  if (addr == nullptr) return NI_RECORD(kFunc, NIEINVAL, "", "parameter invalid (pHostAddr == NULL)");
  const size_t length = utf16Length(host);
  if (length > kMaxHostChars) {
    return NI_RECORD(kFunc, NIEINVAL, "", "hostname too long (" + std::to_string(length) + " > 63)");
  }
  std::string name;
  if (!utf16ToUtf8(std::u16string_view(host, length), name)) return unknownHost(utf16ToUtf8Lenient(host), 1);
  if (name.compare(0, 3, "/H/") == 0) {
    MOX_TRC(2, "%s: hostname  '%s' unknown\n", kFunc, name.c_str());
    return NI_RECORD(kFunc, NIEHOST_UNKNOWN, name, "", 0, NI_RECORD_ONLY);  // no routes here
  }
  in_addr v4{};
  in6_addr v6{};
  int rc = VEL_O_K;
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) {
    *addr = mappedIPv4(v4);
  } else if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
    if (!niIPv6Active()) {
      return NI_RECORD(kFunc, NIEINVAL, "", "IPv6 address '" + name + "' while IPv6 is not active");
    }
    memcpy(addr->bytes, &v6, 16);
  } else {
    rc = resolveName(name, addr);
  }
  if (rc == VEL_O_K) MOX_TRC(2, "%s: hostname '%s' = addr %s\n", kFunc, name.c_str(), NiAddrToStr(*addr).c_str());
  return rc;
}

}  // namespace

bool niIsLoopbackName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  constexpr std::string_view kLocal = "localhost";
  if (name.size() < kLocal.size()) return false;
  const std::string_view tail = name.substr(name.size() - kLocal.size());
  const bool local = std::equal(tail.begin(), tail.end(), kLocal.begin(),
                                [](char a, char b) { return (a | 0x20) == b; });  // ASCII letters only
  return local && (name.size() == kLocal.size() || name[name.size() - kLocal.size() - 1] == '.');
}

int NiHostToAddr(const char16_t* host, NiHostAddr* addr) {
  return niGuarded([&] { return hostToAddr(host, addr); });
}

bool NiAddrIsIPv4(const NiHostAddr& addr) {
  static const uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return memcmp(addr.bytes, prefix, sizeof prefix) == 0;
}

std::string NiAddrToStr(const NiHostAddr& addr) {
  char text[INET6_ADDRSTRLEN] = "";
  if (NiAddrIsIPv4(addr)) {
    inet_ntop(AF_INET, &addr.bytes[12], text, sizeof text);
  } else {
    inet_ntop(AF_INET6, addr.bytes, text, sizeof text);
  }
  return text;
}
