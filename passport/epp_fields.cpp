// Field setters and getters: each traces its call, runs the common checks
// and works under the passport's lock.
#include <cstring>

#include "passport/epp_access.h"
#include "passport/epp_env.h"

namespace {

struct TextField {
  EppText EppPassport::*member;
  size_t limit;
  uint8_t version;
  const char* name;  // as the "too long" line names it
};

constexpr TextField kComponentName{&EppPassport::componentName, EPP_COMPONENT_NAME_MAX, 1, "component name"};
constexpr TextField kUserId{&EppPassport::userId, EPP_USER_ID_MAX, 1, "user id"};
constexpr TextField kAction{&EppPassport::action, EPP_ACTION_MAX, 1, "action field"};
constexpr TextField kPreComponentName{&EppPassport::preComponentName, EPP_PRE_COMPONENT_NAME_MAX, 1,
                                      "previous component name"};
constexpr TextField kTransactionId{&EppPassport::transactionId, EPP_TRANSACTION_ID_MAX, 2, "transaction id"};
constexpr TextField kClient{&EppPassport::client, EPP_CLIENT_MAX, 3, "client field"};

// The common checks and the store of a text setter; the caller has traced
// the call.
int32_t storeText(const char* op, EppHandle handle, const char16_t* value, size_t length, const TextField& field) {
  EppAccess passport(op, handle);
  if (int32_t rc = passport.open(field.version)) return rc;
  if (value == nullptr && length != 0) {
    EPP_TRACE(1, "%s: no value or output area supplied\n", op);
    return EPP_INVALID;
  }
  if (length > field.limit) {
    EPP_TRACE(1, "%s: supplied %s too long\n", op, field.name);
    return EPP_OUT_OF_RANGE;
  }
  EppText& text = passport.get()->*field.member;
  if (length != 0) std::memcpy(text.chars, value, length * sizeof(char16_t));
  text.chars[length] = 0;
  text.length = static_cast<uint8_t>(length);
  return EPP_OK;
}

template <typename Set>
int32_t storeNumber(const char* op, EppHandle handle, uint8_t version, Set set) {
  EppAccess passport(op, handle);
  if (int32_t rc = passport.open(version)) return rc;
  set(*passport.get());
  return EPP_OK;
}

// Fields passed through a caller's area (bytes in or out); the area is required.
template <typename Work>
int32_t withArea(const char* op, EppHandle handle, uint8_t version, const void* area, Work work) {
  EppAccess passport(op, handle);
  if (int32_t rc = passport.open(version)) return rc;
  if (area == nullptr) {
    EPP_TRACE(1, "%s: no value or output area supplied\n", op);
    return EPP_INVALID;
  }
  return work(*passport.get());
}

}  // namespace

#define EPP_ENTER() \
  if (!eppInitialised()) return eppNotInitialised()

int32_t eppSetComponentName(EppHandle handle, const char16_t* value, size_t length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting component name for passport %p to %s\n", __func__, static_cast<void*>(handle),
            eppTraceText(value, length).c_str());
  return storeText(__func__, handle, value, length, kComponentName);
}

int32_t eppSetUserId(EppHandle handle, const char16_t* value, size_t length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting user id for passport %p to %s\n", __func__, static_cast<void*>(handle),
            eppTraceText(value, length).c_str());
  return storeText(__func__, handle, value, length, kUserId);
}

int32_t eppSetAction(EppHandle handle, const char16_t* value, size_t length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting action field for passport %p to %s\n", __func__, static_cast<void*>(handle),
            eppTraceText(value, length).c_str());
  return storeText(__func__, handle, value, length, kAction);
}

int32_t eppSetPreComponentName(EppHandle handle, const char16_t* value, size_t length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting previous component name for passport %p to %s\n", __func__, static_cast<void*>(handle),
            eppTraceText(value, length).c_str());
  return storeText(__func__, handle, value, length, kPreComponentName);
}

int32_t eppSetTransactionId(EppHandle handle, const char16_t* value, size_t length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting transaction id for passport %p to %s\n", __func__, static_cast<void*>(handle),
            eppTraceText(value, length).c_str());
  return storeText(__func__, handle, value, length, kTransactionId);
}

int32_t eppSetClient(EppHandle handle, const char16_t* value, size_t length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting client field for passport %p to %s\n", __func__, static_cast<void*>(handle),
            eppTraceText(value, length).c_str());
  return storeText(__func__, handle, value, length, kClient);
}

int32_t eppSetService(EppHandle handle, uint16_t service) {
  EPP_ENTER();
  // The line names the trace flag; readers of existing traces know it so.
  EPP_TRACE(3, "%s: setting trace flag for passport %p to %u\n", __func__, static_cast<void*>(handle),
            static_cast<unsigned>(service));
  return storeNumber(__func__, handle, 1, [&](EppPassport& p) { p.service = service; });
}

int32_t eppSetActionType(EppHandle handle, uint16_t actionType) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting action type for passport %p to %u\n", __func__, static_cast<void*>(handle),
            static_cast<unsigned>(actionType));
  return storeNumber(__func__, handle, 1, [&](EppPassport& p) { p.actionType = actionType; });
}

int32_t eppSetComponent(EppHandle handle, uint16_t component) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting component of passport %p to %u\n", __func__, static_cast<void*>(handle),
            static_cast<unsigned>(component));
  return storeNumber(__func__, handle, 1, [&](EppPassport& p) { p.component = component; });
}

int32_t eppSetVersion(EppHandle handle, uint8_t version) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting active version of passport %p to %u\n", __func__, static_cast<void*>(handle),
            static_cast<unsigned>(version));
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open()) return rc;
  // Only these three layouts exist; any other byte would make the size and
  // the writer disagree.
  if (version < 1 || version > 3) {
    EPP_TRACE(1, "%s: passport version %u not supported\n", __func__, static_cast<unsigned>(version));
    return EPP_INVALID;
  }
  passport->version = version;
  return EPP_OK;
}

int32_t eppGetVersion(EppHandle handle, uint8_t* version) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: getting core part version from passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 1, version, [&](const EppPassport& p) {
    *version = p.version;
    return EPP_OK;
  });
}

int32_t eppSetTraceFlag(EppHandle handle, const uint8_t flag[2]) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting trace flag for passport %p to [%.02x,%.02x]\n", __func__, static_cast<void*>(handle),
            flag == nullptr ? 0u : flag[0], flag == nullptr ? 0u : flag[1]);
  return withArea(__func__, handle, 1, flag, [&](EppPassport& p) {
    p.traceFlag[0] = flag[0];
    p.traceFlag[1] = flag[1];
    return EPP_OK;
  });
}

int32_t eppGetTraceFlag(EppHandle handle, uint8_t flag[2]) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: getting trace flag from passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 1, flag, [&](const EppPassport& p) {
    flag[0] = p.traceFlag[0];
    flag[1] = p.traceFlag[1];
    return EPP_OK;
  });
}

int32_t eppGetTransactionId(EppHandle handle, size_t capacity, char16_t* buffer, size_t* length) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: getting the transaction id from passport %p\n", __func__, static_cast<void*>(handle));
  // A buffer is needed only when it has room.
  const bool areaGiven = length != nullptr && (buffer != nullptr || capacity == 0);
  return withArea(__func__, handle, 2, areaGiven ? length : nullptr, [&](const EppPassport& p) {
    const EppText& id = p.transactionId;
    if (capacity < id.length) {
      EPP_TRACE(1, "%s: supplied output area too small\n", "eppGetTransactionId");
      return EPP_AREA_TOO_SMALL;
    }
    for (size_t i = 0; i < capacity; ++i) buffer[i] = i < id.length ? id.chars[i] : u' ';
    *length = id.length;
    return EPP_OK;
  });
}

int32_t eppSetRootContextId(EppHandle handle, const uint8_t id[EPP_ID_BYTES]) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting root context id for passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 3, id, [&](EppPassport& p) {
    std::memcpy(p.rootContextId, id, EPP_ID_BYTES);
    return EPP_OK;
  });
}

int32_t eppGetRootContextId(EppHandle handle, uint8_t id[EPP_ID_BYTES]) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: getting root context id from passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 3, id, [&](const EppPassport& p) {
    std::memcpy(id, p.rootContextId, EPP_ID_BYTES);
    return EPP_OK;
  });
}

int32_t eppSetConnectionId(EppHandle handle, const uint8_t id[EPP_ID_BYTES]) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting connection id for passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 3, id, [&](EppPassport& p) {
    std::memcpy(p.connectionId, id, EPP_ID_BYTES);
    return EPP_OK;
  });
}

int32_t eppGetConnectionId(EppHandle handle, uint8_t id[EPP_ID_BYTES]) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: getting connection id from passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 3, id, [&](const EppPassport& p) {
    std::memcpy(id, p.connectionId, EPP_ID_BYTES);
    return EPP_OK;
  });
}

int32_t eppSetConnectionCounter(EppHandle handle, uint32_t counter) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: setting connection counter for passport %p to %u\n", __func__, static_cast<void*>(handle), counter);
  return storeNumber(__func__, handle, 3, [&](EppPassport& p) { p.connectionCounter = counter; });
}

int32_t eppGetConnectionCounter(EppHandle handle, uint32_t* counter) {
  EPP_ENTER();
  EPP_TRACE(3, "%s: getting connection counter from passport %p\n", __func__, static_cast<void*>(handle));
  return withArea(__func__, handle, 3, counter, [&](const EppPassport& p) {
    *counter = p.connectionCounter;
    return EPP_OK;
  });
}
