// Raw outgoing connections with a connect time-out, and closing handles.
#include <string.h>

#include "dptrc/dptrc.h"
#include "ni/ni_handle_table.h"
#include "ni/ni_internal.h"
#include "si/si.h"

namespace {

constexpr char kConnectFunc[] = "NiRawHandleForAddr";
constexpr char kCloseFunc[] = "NiCloseHandle";

socklen_t toSockaddr(const NiHostAddr& addr, uint16_t port, sockaddr_storage* out) {
  memset(out, 0, sizeof *out);
  if (NiAddrIsIPv4(addr)) {
    auto* sin = reinterpret_cast<sockaddr_in*>(out);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    memcpy(&sin->sin_addr, &addr.bytes[12], 4);
    return sizeof *sin;
  }
  auto* sin6 = reinterpret_cast<sockaddr_in6*>(out);
  sin6->sin6_family = AF_INET6;
  sin6->sin6_port = htons(port);
  memcpy(&sin6->sin6_addr, addr.bytes, 16);
  return sizeof *sin6;
}

// A handle being connected: given up (socket closed, entry freed) unless
// kept, whatever way the function is left.
class FreshHandle {
 public:
  FreshHandle() = default;
  ~FreshHandle() {
    if (hdl_ != NI_INVALID_HDL) niHdlDiscard(hdl_);
  }
  FreshHandle(const FreshHandle&) = delete;
  FreshHandle& operator=(const FreshHandle&) = delete;
  NI_HDL* out() { return &hdl_; }
  NI_HDL get() const { return hdl_; }
  NI_HDL keep() {
    const NI_HDL kept = hdl_;
    niHdlRelease(kept);
    hdl_ = NI_INVALID_HDL;
    return kept;
  }

 private:
  NI_HDL hdl_ = NI_INVALID_HDL;
};

// A refused or timed-out connect: logged at level 1 (with the error-log
// entry) only while the trace-mask bit asks for it, else at level 2.
int notReached(const std::string& partner, const std::string& message, int sysErr) {
  const bool logged = niConnLogOn();
  return NI_RECORD(kConnectFunc, NIECONN_REFUSED, partner, message, sysErr, logged ? 1 : 2, logged);
}

int rawHandleForAddr(const NiHostAddr* addr, uint16_t port, int32_t timeoutMs, NI_HDL* hdl) {
  if (hdl == nullptr) return NI_RECORD(kConnectFunc, NIEINVAL, "", "parameter invalid (pHdl == NULL)");
  *hdl = NI_INVALID_HDL;
  if (addr == nullptr) return NI_RECORD(kConnectFunc, NIEINVAL, "", "parameter invalid (pHostAddr == NULL)");
  if (!niInitialised()) return NI_RECORD(kConnectFunc, NIEINTERN, "", "NI not initialized");
  if (!NiAddrIsIPv4(*addr) && !niIPv6Active()) {
    return NI_RECORD(kConnectFunc, NIEINVAL, "", "IPv6 address " + NiAddrToStr(*addr) + " while IPv6 is not active");
  }
  const std::string partner = NiAddrToStr(*addr) + ":" + std::to_string(port);

  FreshHandle handle;
  if (niHdlAlloc(handle.out()) != VEL_O_K) return NI_RECORD(kConnectFunc, NIEINTERN, "", "no free handle");
  const NI_HDL fresh = handle.get();
  sockaddr_storage target;
  const socklen_t targetLen = toSockaddr(*addr, port, &target);
  int sock = -1;
  int sysErr = 0;
  if (SiSocket(target.ss_family, &sock, &sysErr) != SI_OK) {
    return NI_RECORD(kConnectFunc, NIEINTERN, "", "cannot create a socket", sysErr);
  }
  niHdlAttach(fresh, sock, *addr, port);
  MOX_TRC(3, "%s: connect to %s (hdl %d/sock %d)\n", kConnectFunc, partner.c_str(), fresh, sock);

  int rc = SiConnect(sock, reinterpret_cast<const sockaddr*>(&target), targetLen, &sysErr);
  if (rc == SI_EINPROGRESS) {
    niHdlSetState(fresh, NI_CONN_WAIT);
    rc = SiWait(sock, SiReady::writable, timeoutMs, &sysErr);
    if (rc == SI_ETIMEOUT) {
      MOX_TRC(2, "%s: non-buffered connect pending after %dms (hdl %d;%s)\n", kConnectFunc, timeoutMs, fresh,
              partner.c_str());
      return notReached(partner, "connection pending after " + std::to_string(timeoutMs) + "ms", 0);
    }
    if (rc == SI_OK) rc = SiConnectResult(sock, &sysErr);
  }
  if (rc != SI_OK) return notReached(partner, "", sysErr);

  niHdlSetState(fresh, NI_CONNECTED);
  *hdl = handle.keep();
  return VEL_O_K;
}

}  // namespace

int NiRawHandleForAddr(const NiHostAddr* addr, uint16_t port, int32_t timeoutMs, NI_HDL* hdl) {
  return niGuarded([&] { return rawHandleForAddr(addr, port, timeoutMs, hdl); });
}

int NiCloseHandle(NI_HDL hdl) {
  return niGuarded([&] {
    if (!niHdlClose(kCloseFunc, hdl)) return NI_INVALID_HDL_FAILURE(kCloseFunc, hdl);
    return VEL_O_K;
  });
}
