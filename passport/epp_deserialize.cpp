// Reading a passport from its network form.
//
// Every read is bounded by the passport's own length L (checked against the
// stream first): the core fields lie below the version's minimum size, which
// L must reach; variable parts lie between their offset and the trailing
// eye-catcher; items inside their part.
#include <algorithm>
#include <string>

#include "common/utf.h"
#include "passport/epp_env.h"
#include "passport/epp_record.h"
#include "passport/epp_text.h"
#include "passport/epp_wire.h"

using namespace eppwire;

namespace {

const char* const kOp = "eppDeserialize";

using TextSetter = int32_t (*)(EppHandle, const char16_t*, size_t);

int32_t tooShort(uint64_t length) {
  EPP_TRACE(1, "%s: data stream invalid, not long enough (%llu)\n", kOp, static_cast<unsigned long long>(length));
  return EPP_INVALID;
}

int32_t outOfBounds(const char* what, size_t offset) {
  EPP_TRACE(1, "%s: data stream invalid, %s at offset %llu out of bounds\n", kOp, what,
            static_cast<unsigned long long>(offset));
  return EPP_INVALID;
}

int32_t notUtf8(size_t offset) {
  EPP_TRACE(1, "%s: data stream invalid, string at offset %llu cannot be converted\n", kOp,
            static_cast<unsigned long long>(offset));
  return EPP_CONVERSION;
}

// eppSetItem takes an 8-bit length; anything longer is refused by it as
// out of range, so it is passed as 255 (the data is then never read).
uint8_t lengthArgument(size_t length) { return static_cast<uint8_t>(std::min<size_t>(length, 255)); }

// The passport [data, data + length) whose frame (eye-catchers, length of
// at least the version 1 size) has been checked, read into a new passport.
class StreamReader {
 public:
  StreamReader(const uint8_t* data, size_t length, EppHandle passport)
      : data_(data), length_(length), passport_(passport) {}

  int32_t read(uint8_t version) {
    if (version != eppEnv().defaultVersion.load(std::memory_order_relaxed)) {
      if (int32_t rc = eppSetVersion(passport_, version)) return rc;
    }
    if (int32_t rc = readCore()) return rc;
    if (version == 1) return EPP_OK;
    if (length_ < EPP_V2_SIZE) return tooShort(length_);
    if (int32_t rc = text(kTransactionId, kNameWidth, eppSetTransactionId)) return rc;
    if (version == 2) return EPP_OK;
    if (length_ < EPP_V3_SIZE) return tooShort(length_);
    if (int32_t rc = readVersion3()) return rc;
    return readVarParts();
  }

 private:
  int32_t text(size_t offset, size_t width, TextSetter set) {
    std::u16string value;
    if (!eppGetField(data_ + offset, width, value)) return notUtf8(offset);
    return set(passport_, value.data(), value.size());
  }

  int32_t readCore() {
    if (int32_t rc = eppSetTraceFlag(passport_, data_ + kTraceFlag)) return rc;
    if (int32_t rc = text(kComponentName, kNameWidth, eppSetComponentName)) return rc;
    if (int32_t rc = eppSetService(passport_, get16(data_ + kService))) return rc;
    if (int32_t rc = text(kUserId, kNameWidth, eppSetUserId)) return rc;
    if (int32_t rc = text(kAction, kActionWidth, eppSetAction)) return rc;
    if (int32_t rc = eppSetActionType(passport_, get16(data_ + kActionType))) return rc;
    return text(kPreComponentName, kNameWidth, eppSetPreComponentName);
  }

  int32_t readVersion3() {
    if (int32_t rc = text(kClient, kClientWidth, eppSetClient)) return rc;
    if (int32_t rc = eppSetComponent(passport_, get16(data_ + kComponent))) return rc;
    if (int32_t rc = eppSetRootContextId(passport_, data_ + kRootContextId)) return rc;
    if (int32_t rc = eppSetConnectionId(passport_, data_ + kConnectionId)) return rc;
    return eppSetConnectionCounter(passport_, get32(data_ + kConnectionCounter));
  }

  int32_t readVarParts() {
    const uint16_t count = get16(data_ + kVarPartCount);
    if (count == 0) return EPP_OK;
    size_t pos = get16(data_ + kFirstVarPart);
    // Parts live between the core part and the trailing eye-catcher.
    if (pos < kV3Header || pos > partsEnd()) return outOfBounds("first variable part", pos);
    for (uint16_t n = 0; n < count; ++n) {
      size_t end = 0;
      if (int32_t rc = readVarPart(pos, end)) return rc;
      pos = end;
    }
    return EPP_OK;
  }

  size_t partsEnd() const { return length_ - kTrailer; }

  int32_t readVarPart(size_t start, size_t& end) {
    if (partsEnd() - start < kPartHeader) return outOfBounds("variable part", start);
    const uint8_t* part = data_ + start;
    if (!eppHasEyecatcher(reinterpret_cast<const char*>(part))) {
      EPP_TRACE(1, "%s: data stream invalid, could not find valid variable part eyecatcher\n", kOp);
      return EPP_INVALID;
    }
    const size_t length = get16(part + kPartLength);
    if (length < kPartHeader || length > partsEnd() - start) return outOfBounds("variable part", start);
    end = start + length;
    // Later part versions carry items this reader does not know.
    if (part[kPartVersion] >= 2) return EPP_OK;
    const uint16_t id = get16(part + kPartId);
    const uint16_t items = get16(part + kPartItemCount);
    size_t pos = start + kPartHeader;
    for (uint16_t n = 0; n < items; ++n) {
      if (int32_t rc = readItem(id, pos, end)) return rc;
    }
    return EPP_OK;
  }

  // The item at pos, inside its part (which ends at partEnd); advances pos.
  int32_t readItem(uint16_t partId, size_t& pos, size_t partEnd) {
    if (partEnd - pos < kItemHeader) return outOfBounds("item", pos);
    const uint8_t* item = data_ + pos;
    const size_t length = get16(item + kItemLength);
    if (length < kItemHeader || length > partEnd - pos) return outOfBounds("item", pos);
    const size_t dataOffset = pos + kItemHeader;
    pos += length;
    const uint16_t applicationId = get16(item + kItemApplicationId);
    const uint16_t itemId = get16(item + kItemId);
    const uint8_t type = item[kItemType];
    const uint8_t* data = data_ + dataOffset;
    const size_t dataLength = length - kItemHeader;
    switch (type) {
      case EPP_ITEM_BYTES:
      case EPP_ITEM_ID16:
        return eppSetItem(passport_, partId, applicationId, itemId, type, lengthArgument(dataLength), data);
      case EPP_ITEM_NUMBER: {
        if (dataLength < sizeof(uint32_t)) return outOfBounds("number item", dataOffset);
        const uint32_t number = get32(data);
        return eppSetItem(passport_, partId, applicationId, itemId, type, lengthArgument(dataLength), &number);
      }
      case EPP_ITEM_STRING: {
        std::u16string value;
        if (!utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), dataLength), value)) {
          return notUtf8(dataOffset);
        }
        return eppSetItem(passport_, partId, applicationId, itemId, type, lengthArgument(value.size()), value.data());
      }
      default: return EPP_OK;  // unknown types are skipped
    }
  }

  const uint8_t* data_;
  size_t length_;
  EppHandle passport_;
};

// Checks 2 to 7: the frame of the passport in the stream. On success,
// length is the passport's own length.
int32_t checkFrame(const uint8_t* stream, size_t streamLength, size_t& length) {
  if (streamLength < EPP_V1_SIZE) return tooShort(streamLength);
  if (!eppHasEyecatcher(reinterpret_cast<const char*>(stream))) {
    EPP_TRACE(1, "%s: data stream invalid, could not find valid leading eyecatcher\n", kOp);
    return EPP_INVALID;
  }
  // Signed on the wire: a first byte of 0x80 or more is longer than any stream.
  const auto declared = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(get16(stream + kTotalLength))));
  if (declared > streamLength) {
    EPP_TRACE(1, "%s: inconsistend length of passport and bytestream (%llu > %llu)", kOp,
              static_cast<unsigned long long>(declared), static_cast<unsigned long long>(streamLength));
    return EPP_INVALID;
  }
  // Every version's core part reaches this far.
  if (declared < EPP_V1_SIZE) return tooShort(declared);
  length = static_cast<size_t>(declared);
  if (!eppHasEyecatcher(reinterpret_cast<const char*>(stream + length - kTrailer))) {
    EPP_TRACE(1, "%s: data stream invalid, could not find valid trailing eyecatcher\n", kOp);
    return EPP_INVALID;
  }
  return EPP_OK;
}

}  // namespace

int32_t eppDeserialize(const uint8_t* stream, size_t streamLength, EppHandle* out) {
  if (!eppInitialised()) return eppNotInitialised();
  EPP_TRACE(2, "%s: deserializing network stream (%llu bytes)\n", __func__,
            static_cast<unsigned long long>(streamLength));
  if (out != nullptr) *out = nullptr;
  if (out == nullptr || stream == nullptr) {
    EPP_TRACE(1, "%s: data stream pointer invalid\n", __func__);
    return EPP_INVALID;
  }
  size_t length = 0;
  if (int32_t rc = checkFrame(stream, streamLength, length)) return rc;
  const uint8_t version = std::min<uint8_t>(stream[kVersion], 3);
  EppHandle passport = nullptr;
  if (eppInit(&passport) != EPP_OK) {
    EPP_TRACE(1, "%s: unable to create new passport\n", __func__);
    return EPP_FAILED;
  }
  if (int32_t rc = StreamReader(stream, length, passport).read(version)) {
    eppDelete(passport);
    EPP_TRACE(2, "%s: deserialization failed (rc=%d)", __func__, rc);
    return rc;
  }
  *out = passport;
  return EPP_OK;
}
