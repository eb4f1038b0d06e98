// Raw writes and reads with a time-out over the whole call.
#include <chrono>

#include "dptrc/dptrc.h"
#include "ni/ni_handle_table.h"
#include "ni/ni_internal.h"
#include "si/si.h"

namespace {

constexpr char kWriteFunc[] = "NiRawWrite";
constexpr char kReadFunc[] = "NiRawRead";

using Clock = std::chrono::steady_clock;

// A handle acquired for one operation, released however it is left.
class HandleUse {
 public:
  explicit HandleUse(NI_HDL hdl) : hdl_(hdl), held_(niHdlAcquire(hdl, &view_)) {}
  ~HandleUse() {
    if (held_) niHdlRelease(hdl_);
  }
  HandleUse(const HandleUse&) = delete;
  HandleUse& operator=(const HandleUse&) = delete;
  bool held() const { return held_; }
  int sock() const { return view_.sock; }

 private:
  NI_HDL hdl_;
  NiHdlView view_;
  bool held_;
};

// The time left of a call's time-out; negative time-outs never end.
class Deadline {
 public:
  explicit Deadline(int32_t timeoutMs)
      : limited_(timeoutMs >= 0), end_(Clock::now() + std::chrono::milliseconds(limited_ ? timeoutMs : 0)) {}
  int32_t leftMs() const {
    if (!limited_) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return left > 0 ? static_cast<int32_t>(left) : 0;
  }

 private:
  bool limited_;
  Clock::time_point end_;
};

int brokenConnection(const char* func, NI_HDL hdl, int sysErr) {
  return NI_RECORD(func, NIECONN_BROKEN, niHdlPartner(hdl), "", sysErr);
}

int rawWrite(NI_HDL hdl, const void* data, int32_t count, int32_t timeoutMs, int32_t* written) {
  if (written == nullptr) return NI_RECORD(kWriteFunc, NIEINVAL, "", "parameter invalid (pWritten == NULL)");
  *written = 0;
  if (data == nullptr) return NI_RECORD(kWriteFunc, NIEINVAL, "", "parameter invalid (pData == NULL)");
  if (count < 0) return NI_RECORD(kWriteFunc, NIEINVAL, "", "parameter invalid (len < 0)");
  HandleUse use(hdl);
  if (!use.held()) return NI_INVALID_HDL_FAILURE(kWriteFunc, hdl);

  const auto* bytes = static_cast<const char*>(data);
  const Deadline deadline(timeoutMs);
  int32_t done = 0;
  while (done < count) {
    int sysErr = 0;
    const int ready = SiWait(use.sock(), SiReady::writable, deadline.leftMs(), &sysErr);
    if (ready == SI_ETIMEOUT) {
      return NI_RECORD(kWriteFunc, NIETIMEOUT, "",
                       "hdl " + std::to_string(hdl) + " sent incomplete data (wrt=" + std::to_string(done) +
                           ",pnd=" + std::to_string(count - done) + ",pac=" + std::to_string(count) + ",RAW_IO," +
                           std::to_string(timeoutMs) + "ms)");
    }
    if (ready != SI_OK) return NI_RECORD(kWriteFunc, NIEINTERN, "", "waiting for the socket failed", sysErr);
    // Interrupted sends are repeated; a send that would block waits again.
    int rc = SI_EINTR;
    size_t sent = 0;
    while (rc == SI_EINTR) rc = SiSend(use.sock(), bytes + done, static_cast<size_t>(count - done), &sent, &sysErr);
    if (rc == SI_EWOULDBLOCK) continue;
    if (rc != SI_OK) return brokenConnection(kWriteFunc, hdl, sysErr);
    done += static_cast<int32_t>(sent);
    *written = done;
    MOX_TRC(3, "%s: hdl %d sent %d of %d bytes\n", kWriteFunc, hdl, done, count);
  }
  return VEL_O_K;
}

int rawRead(NI_HDL hdl, void* buf, int32_t len, int32_t timeoutMs, int32_t* read) {
  if (read == nullptr) return NI_RECORD(kReadFunc, NIEINVAL, "", "parameter invalid (pRead == NULL)");
  *read = 0;
  if (buf == nullptr) return NI_RECORD(kReadFunc, NIEINVAL, "", "parameter invalid (pBuffer == NULL)");
  if (len < 0) return NI_RECORD(kReadFunc, NIEINVAL, "", "parameter invalid (len < 0)");
  if (len == 0) {
    return NI_RECORD(kReadFunc, NIETOO_SMALL, "",
                     "RAW_MODE read with buffer length 0 (hdl " + std::to_string(hdl) + ")");
  }
  HandleUse use(hdl);
  if (!use.held()) return NI_INVALID_HDL_FAILURE(kReadFunc, hdl);

  const Deadline deadline(timeoutMs);
  for (;;) {
    int sysErr = 0;
    const int ready = SiWait(use.sock(), SiReady::readable, deadline.leftMs(), &sysErr);
    // Waiting in vain is the ordinary end of a read loop: no error line below level 2.
    if (ready == SI_ETIMEOUT) return NI_RECORD(kReadFunc, NIETIMEOUT, "", "", 0, 2);
    if (ready != SI_OK) return NI_RECORD(kReadFunc, NIEINTERN, "", "waiting for the socket failed", sysErr);
    size_t received = 0;
    const int rc = SiRecv(use.sock(), buf, static_cast<size_t>(len), &received, &sysErr);
    if (rc == SI_EINTR || rc == SI_EWOULDBLOCK) continue;
    if (rc != SI_OK) return brokenConnection(kReadFunc, hdl, sysErr);
    *read = static_cast<int32_t>(received);
    MOX_TRC(3, "%s: hdl %d received %d bytes\n", kReadFunc, hdl, *read);
    return VEL_O_K;
  }
}

}  // namespace

int NiRawWrite(NI_HDL hdl, const void* data, int32_t count, int32_t timeoutMs, int32_t* written) {
  return niGuarded([&] { return rawWrite(hdl, data, count, timeoutMs, written); });
}

int NiRawRead(NI_HDL hdl, void* buf, int32_t len, int32_t timeoutMs, int32_t* read) {
  return niGuarded([&] { return rawRead(hdl, buf, len, timeoutMs, read); });
}
