// Writing the network form, and its size.
#include <cstring>
#include <string>

#include "common/utf.h"
#include "passport/epp_access.h"
#include "passport/epp_env.h"
#include "passport/epp_text.h"
#include "passport/epp_wire.h"

using namespace eppwire;

namespace {

std::u16string_view textOf(const EppText& text) { return std::u16string_view(text.chars, text.length); }

// Only version 1 and 2 have layouts of their own; eppSetVersion and the
// reader admit nothing else below 3.
std::string itemUtf8(const EppItem& item) {
  return utf16ToUtf8Lenient(std::u16string_view(reinterpret_cast<const char16_t*>(item.data()), item.length));
}

// Bytes of an item's data on the network. A string is written whole: its
// length counts characters, and cutting its UTF-8 to that many bytes would
// lose text (down to an empty string no reader accepts).
size_t itemDataBytes(const EppItem& item) { return item.type == EPP_ITEM_STRING ? itemUtf8(item).size() : item.length; }

size_t neededSize(const EppPassport& passport) {
  if (passport.version == 1) return EPP_V1_SIZE;
  if (passport.version == 2) return EPP_V2_SIZE;
  size_t size = kV3Header + kTrailer;
  for (const EppVarPart* part : passport.varParts) {
    if (part == nullptr) continue;
    size += kPartHeader;
    for (const EppItem* item = part->first; item != nullptr; item = item->next)
      size += kItemHeader + itemDataBytes(*item);
  }
  return size;
}

// The item's data as written; returns the bytes written.
size_t putItemData(uint8_t* at, const EppItem& item) {
  switch (item.type) {
    case EPP_ITEM_BYTES:
    case EPP_ITEM_ID16: std::memcpy(at, item.data(), item.length); return item.length;
    case EPP_ITEM_NUMBER: {
      uint32_t number = 0;
      std::memcpy(&number, item.data(), sizeof number);
      put32(at, number);
      return sizeof number;
    }
    case EPP_ITEM_STRING: {
      const std::string utf8 = itemUtf8(item);
      std::memcpy(at, utf8.data(), utf8.size());
      return utf8.size();
    }
    default: return 0;
  }
}

// One variable part with its items at out; returns its length.
size_t putVarPart(uint8_t* out, const EppVarPart& part, bool isLast) {
  std::memcpy(out, kEppEyecatcher, kEppEyecatcherSize);
  out[kPartVersion] = static_cast<uint8_t>(part.partVersion);
  out[kPartIsLast] = isLast ? 1 : 0;
  put16(out + kPartId, part.id);
  put16(out + kPartItemCount, part.itemCount);
  size_t pos = kPartHeader;
  const EppItem* item = part.first;
  for (uint16_t n = 0; n < part.itemCount && item != nullptr; ++n, item = item->next) {
    uint8_t* at = out + pos;
    put16(at + kItemApplicationId, item->applicationId);
    put16(at + kItemId, item->itemId);
    at[kItemType] = item->type;
    const size_t length = kItemHeader + putItemData(at + kItemHeader, *item);
    put16(at + kItemLength, static_cast<uint16_t>(length));
    pos += length;
  }
  put16(out + kPartLength, static_cast<uint16_t>(pos));
  return pos;
}

size_t putCore(uint8_t* out, const EppPassport& p) {
  std::memcpy(out, kEppEyecatcher, kEppEyecatcherSize);
  out[kVersion] = p.version;
  out[kTraceFlag] = p.traceFlag[0];
  out[kTraceFlag + 1] = p.traceFlag[1];
  eppPutField(out + kComponentName, kNameWidth, textOf(p.componentName));
  put16(out + kService, p.service);
  eppPutField(out + kUserId, kNameWidth, textOf(p.userId));
  eppPutField(out + kAction, kActionWidth, textOf(p.action));
  put16(out + kActionType, p.actionType);
  eppPutField(out + kPreComponentName, kNameWidth, textOf(p.preComponentName));
  if (p.version == 1) {
    std::memset(out + kV1Padding, 0, kV1PaddingSize);
    return kV1Padding + kV1PaddingSize;
  }
  eppPutField(out + kTransactionId, kNameWidth, textOf(p.transactionId));
  if (p.version == 2) return kTransactionId + kNameWidth;
  eppPutField(out + kClient, kClientWidth, textOf(p.client));
  put16(out + kComponent, p.component);
  std::memcpy(out + kRootContextId, p.rootContextId, EPP_ID_BYTES);
  std::memcpy(out + kConnectionId, p.connectionId, EPP_ID_BYTES);
  put32(out + kConnectionCounter, p.connectionCounter);
  put16(out + kVarPartCount, p.varPartCount);
  put16(out + kFirstVarPart, static_cast<uint16_t>(kV3Header));
  return kV3Header;
}

// The whole form; out has room for neededSize bytes. Returns the length.
size_t putPassport(uint8_t* out, const EppPassport& p) {
  size_t pos = putCore(out, p);
  if (p.version >= 3) {
    uint16_t written = 0;
    for (size_t slot = 0; slot < kEppVarPartSlots && written < p.varPartCount; ++slot) {
      if (p.varParts[slot] == nullptr) continue;
      pos += putVarPart(out + pos, *p.varParts[slot], slot + 1 == p.varPartCount);
      ++written;
    }
  }
  std::memcpy(out + pos, kEppEyecatcher, kEppEyecatcherSize);
  pos += kTrailer;
  put16(out + kTotalLength, static_cast<uint16_t>(pos));
  return pos;
}

}  // namespace

int32_t eppNeededNetworkSize(EppHandle handle, size_t* size) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(3, "%s: calculating the needed network size for passport %p\n", __func__, static_cast<void*>(handle));
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open()) return rc;
  if (size == nullptr) {
    EPP_TRACE(1, "%s: no value or output area supplied\n", __func__);
    return EPP_INVALID;
  }
  *size = neededSize(*handle);
  EPP_TRACE(3, "%s: need %d bytes\n", __func__, static_cast<int>(*size));
  return EPP_OK;
}

int32_t eppSerialize(EppHandle handle, uint8_t* buffer, size_t bufferSize, size_t* usedBytes) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(2, "%s: serializing passport instance %p\n", __func__, static_cast<void*>(handle));
  EppAccess passport(__func__, handle);
  if (int32_t rc = passport.open()) return rc;
  if (usedBytes == nullptr) {
    EPP_TRACE(1, "%s: no value or output area supplied\n", __func__);
    return EPP_INVALID;
  }
  const size_t needed = neededSize(*handle);
  if (needed > bufferSize || buffer == nullptr) {
    passport.unlock();
    EPP_TRACE(2, "%s: supplied output area too small (%llu < %llu)\n", __func__,
              static_cast<unsigned long long>(buffer == nullptr ? 0 : bufferSize),
              static_cast<unsigned long long>(needed));
    return EPP_AREA_TOO_SMALL;
  }
  *usedBytes = putPassport(buffer, *handle);
  passport.unlock();
  EPP_TRACE(2, "%s: serialized passport instance %p (needed bytes=%llu, used bytes =%llu)\n", __func__,
            static_cast<void*>(handle), static_cast<unsigned long long>(needed),
            static_cast<unsigned long long>(*usedBytes));
  return EPP_OK;
}
