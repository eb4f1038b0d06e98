// The frame of the exports, and the exports that belong to the frame alone.
#include <cstring>
#include <string>

#include "common/number_text.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/api/api_frame.h"
#include "port/thread_owned.h"
#include "thr/thr.h"

namespace moxapi {

std::atomic<int16_t> initCount{0};
std::atomic<MoxLibrary*> currentLibrary{nullptr};

// The thread id never changes for a thread, so its key is built once.
ThreadKey::ThreadKey() {
  const ThrId id = ThrGetCurrentId();
  if (id == THR_INVALID_ID) {
    text = u"Unknown";
    return;
  }
  appendDecimal(text, static_cast<uint32_t>(id));
}

bool sessionKeyFromHost(MOX_SessionIdFunc getSessionId, std::u16string& key) {
  if (getSessionId == nullptr) {
    MOX_TRC_HOST_ERROR("Get sessionId function point is NULL\n");
    return false;
  }
  const mox_char* id = getSessionId();
  // A null result is treated like an empty one: there is no session to act on.
  if (id == nullptr || id[0] == 0) {
    MOX_TRC_HOST_ERROR("External sessionId function returns the empty sessionId\n");
    return false;
  }
  key = utf16Copy(id);
  return true;
}

uint32_t copyToHostBuffer(const std::u16string& result, mox_char* buffer, uint32_t size, const char* exportName) {
  const uint32_t len = static_cast<uint32_t>(result.size());
  if (size <= len || buffer == nullptr) {
    MOX_TRC_HOST(2, "%s: buffer size is smaller than the required\n", exportName);
    return len + 1;
  }
  std::memcpy(buffer, result.data(), len * sizeof(mox_char));
  buffer[len] = 0;
  return len;
}

}  // namespace moxapi

extern "C" uint32_t MOX_getCharSize(void) { return sizeof(mox_char); }
