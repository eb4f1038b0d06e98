// Variable parts and their items (version 3 passports).
#include "passport/epp_varpart.h"

#include <cstring>
#include <new>

#include "passport/epp_access.h"
#include "passport/epp_env.h"

namespace {

constexpr size_t kMaxItemLength = 64;  // bytes of a byte stream, characters of a string
constexpr unsigned kMaxItemsPerApplication = 5;
constexpr size_t kNoSlot = kEppVarPartSlots;

bool validPartId(const char* op, uint16_t varPartId) {
  if (varPartId <= EPP_MAX_VARPART_ID) return true;
  EPP_TRACE(1, "%s: passed variable part id not valid\n", op);
  return false;
}

size_t findSlot(const EppPassport& passport, uint16_t id) {
  for (size_t slot = 0; slot < kEppVarPartSlots; ++slot) {
    if (passport.varParts[slot] != nullptr && passport.varParts[slot]->id == id) return slot;
  }
  return kNoSlot;
}

// The data size an item of this type and length takes, or the code that
// refuses the length or the type.
int32_t itemDataSize(const char* op, uint8_t type, uint8_t length, uint16_t& size) {
  const unsigned long long given = length;
  switch (type) {
    case EPP_ITEM_BYTES:
      size = length;
      if (length >= 1 && length <= kMaxItemLength) return EPP_OK;
      EPP_TRACE(1, "%s: invalid byte stream size (%llu), maximum size (%u)\n", op, given,
                static_cast<unsigned>(kMaxItemLength));
      return EPP_OUT_OF_RANGE;
    case EPP_ITEM_NUMBER:
      size = sizeof(uint32_t);
      if (length == size) return EPP_OK;
      EPP_TRACE(1, "%s: invalid number size (%llu), expected size (%u)\n", op, given, static_cast<unsigned>(size));
      return EPP_OUT_OF_RANGE;
    case EPP_ITEM_ID16:
      size = EPP_ID_BYTES;
      if (length == size) return EPP_OK;
      EPP_TRACE(1, "%s: invalid id size (%llu), expected size (%u)\n", op, given, static_cast<unsigned>(size));
      return EPP_OUT_OF_RANGE;
    case EPP_ITEM_STRING:
      size = static_cast<uint16_t>((length + 1) * sizeof(char16_t));  // with the terminating zero
      if (length >= 1 && length <= kMaxItemLength) return EPP_OK;
      EPP_TRACE(1, "%s: invalid string length (%llu), maximum length (%u)\n", op, given,
                static_cast<unsigned>(kMaxItemLength));
      return EPP_OUT_OF_RANGE;
    default: EPP_TRACE(1, "%s: invalid item type %u\n", op, static_cast<unsigned>(type)); return EPP_INVALID;
  }
}

// Duplicate item id (1), then the number of items of the application (9).
int32_t checkApplication(const char* op, const EppVarPart& part, uint16_t applicationId, uint16_t itemId) {
  unsigned count = 0;
  bool duplicate = false;
  for (const EppItem* item = part.first; item != nullptr; item = item->next) {
    if (item->applicationId != applicationId) continue;
    ++count;
    duplicate = duplicate || item->itemId == itemId;
  }
  EPP_TRACE(3, "%s: found %u items for application id %u\n", op, count, static_cast<unsigned>(applicationId));
  if (duplicate) {
    EPP_TRACE(1, "%s: item %u for application %u already exists\n", op, static_cast<unsigned>(itemId),
              static_cast<unsigned>(applicationId));
    return EPP_ITEM_EXISTS;
  }
  if (count >= kMaxItemsPerApplication) {
    EPP_TRACE(1, "%s: application %u has reached it's maximum number of items (%u)\n", op,
              static_cast<unsigned>(applicationId), kMaxItemsPerApplication);
    return EPP_TOO_MANY_ITEMS;
  }
  return EPP_OK;
}

int32_t addItem(const char* op, const EppPassport& passport, EppVarPart& part, uint16_t applicationId, uint16_t itemId,
                uint8_t type, uint8_t length, const void* data) {
  uint16_t dataSize = 0;
  if (int32_t rc = itemDataSize(op, type, length, dataSize)) return rc;
  if (data == nullptr) {
    EPP_TRACE(1, "%s: no item data supplied\n", op);
    return EPP_INVALID;
  }
  if (part.usedSize + kEppItemBase + dataSize > kEppVarPartLimit) {
    EPP_TRACE(1, "%s: maximum length of the variable part (%llu) already reached (%u)\n", op,
              static_cast<unsigned long long>(kEppVarPartLimit), static_cast<unsigned>(type));
    return EPP_VARPART_FULL;
  }
  if (int32_t rc = checkApplication(op, part, applicationId, itemId)) return rc;
  void* block = passport.alloc(sizeof(EppItem) + dataSize);
  if (block == nullptr) {
    EPP_TRACE(1, "%s: allocation failed\n", op);
    return EPP_FAILED;
  }
  EppItem* item = new (block) EppItem();
  item->applicationId = applicationId;
  item->itemId = itemId;
  item->type = type;
  item->length = length;
  item->dataSize = dataSize;
  if (type == EPP_ITEM_STRING) {
    std::memcpy(item->data(), data, length * sizeof(char16_t));
    std::memset(item->data() + length * sizeof(char16_t), 0, sizeof(char16_t));
  } else {
    std::memcpy(item->data(), data, dataSize);
  }
  (part.last == nullptr ? part.first : part.last->next) = item;
  part.last = item;
  ++part.itemCount;
  part.usedSize = static_cast<uint16_t>(part.usedSize + kEppItemBase + dataSize);
  EPP_TRACE(3, "%s: set item %u for application %u with type %u\n", op, static_cast<unsigned>(itemId),
            static_cast<unsigned>(applicationId), static_cast<unsigned>(type));
  return EPP_OK;
}

// The slot of the part with this id, created in a free slot when missing;
// kNoSlot when it cannot be (traced).
size_t partSlot(const char* op, EppPassport& passport, uint16_t id, bool& created) {
  created = false;
  size_t slot = findSlot(passport, id);
  if (slot != kNoSlot) {
    EPP_TRACE(3, "%s: found variable part with index %u\n", op, static_cast<unsigned>(slot));
    return slot;
  }
  EPP_TRACE(3, "%s: could not find variable part with id %u\n", op, static_cast<unsigned>(id));
  slot = 0;
  while (slot < kEppVarPartSlots && passport.varParts[slot] != nullptr) ++slot;
  void* block = slot < kEppVarPartSlots ? passport.alloc(sizeof(EppVarPart)) : nullptr;
  if (block == nullptr) {
    EPP_TRACE(1, "%s: could not create variable part\n", op);
    return kNoSlot;
  }
  EppVarPart* part = new (block) EppVarPart();
  part->id = id;
  passport.varParts[slot] = part;
  ++passport.varPartCount;
  created = true;
  EPP_TRACE(3, "%s: created new variable part with id %u for passport %p at index %u\n", op, static_cast<unsigned>(id),
            static_cast<void*>(&passport), static_cast<unsigned>(slot));
  return slot;
}

}  // namespace

void eppFreeVarPart(const EppPassport& passport, EppVarPart* part) {
  for (EppItem* item = part->first; item != nullptr;) {
    EppItem* next = item->next;
    item->~EppItem();
    passport.release(item);
    item = next;
  }
  part->~EppVarPart();
  passport.release(part);
}

void eppFreeVarParts(EppPassport& passport) {
  for (EppVarPart*& part : passport.varParts) {
    if (part == nullptr) continue;
    eppFreeVarPart(passport, part);
    part = nullptr;
  }
  passport.varPartCount = 0;
}

int32_t eppSetItem(EppHandle handle, uint16_t varPartId, uint16_t applicationId, uint16_t itemId, uint8_t type,
                   uint8_t length, const void* data) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(3, "%s: setting item %u for application %u in variable part %u of passport %p\n", __func__,
            static_cast<unsigned>(itemId), static_cast<unsigned>(applicationId), static_cast<unsigned>(varPartId),
            static_cast<void*>(handle));
  if (!validPartId(__func__, varPartId)) return EPP_INVALID;
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open(3)) return rc;
  bool created = false;
  const size_t slot = partSlot(__func__, *handle, varPartId, created);
  if (slot == kNoSlot) return EPP_FAILED;
  const int32_t rc = addItem(__func__, *handle, *handle->varParts[slot], applicationId, itemId, type, length, data);
  if (rc != EPP_OK) {
    EPP_TRACE(1, "%s: unable to set item (rc=%d)\n", __func__, rc);
    if (created) eppClearVarPart(handle, varPartId);
  }
  return rc;
}

int32_t eppClearVarPart(EppHandle handle, uint16_t varPartId) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(2, "%s: clearing variable part %u of passport %p\n", __func__, static_cast<unsigned>(varPartId),
            static_cast<void*>(handle));
  if (!validPartId(__func__, varPartId)) return EPP_INVALID;
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open(3)) return rc;
  const size_t slot = findSlot(*handle, varPartId);
  if (slot == kNoSlot) return EPP_OK;
  EPP_TRACE(3, "%s: deleting variable part with id %u for passport %p at index %u\n", __func__,
            static_cast<unsigned>(varPartId), static_cast<void*>(handle), static_cast<unsigned>(slot));
  eppFreeVarPart(*handle, handle->varParts[slot]);
  handle->varParts[slot] = nullptr;
  --handle->varPartCount;
  return EPP_OK;
}
