// The network form: field offsets and widths, and big-endian access.
//
// Numbers are big-endian except the trace flag, whose two bytes keep their
// order. Strings are UTF-8, left-aligned and filled with blanks to their
// field's width, without a terminating zero.
#pragma once

#include <cstddef>
#include <cstdint>

namespace eppwire {

// Core part.
constexpr size_t kVersion = 4;
constexpr size_t kTotalLength = 5;
constexpr size_t kTraceFlag = 7;
constexpr size_t kComponentName = 9;
constexpr size_t kService = 41;
constexpr size_t kUserId = 43;
constexpr size_t kAction = 75;
constexpr size_t kActionType = 115;
constexpr size_t kPreComponentName = 117;
constexpr size_t kV1Padding = 149;  // version 1: seven zero bytes
constexpr size_t kV1PaddingSize = 7;
constexpr size_t kTransactionId = 149;  // versions 2 and 3
constexpr size_t kClient = 181;         // version 3 from here on
constexpr size_t kComponent = 184;
constexpr size_t kRootContextId = 186;
constexpr size_t kConnectionId = 202;
constexpr size_t kConnectionCounter = 218;
constexpr size_t kVarPartCount = 222;
constexpr size_t kFirstVarPart = 224;
constexpr size_t kV3Header = 226;  // where the variable parts start
constexpr size_t kTrailer = 4;     // the trailing eye-catcher

constexpr size_t kNameWidth = 32;  // component, user id, previous component, transaction id
constexpr size_t kActionWidth = 40;
constexpr size_t kClientWidth = 3;

// Variable part header.
constexpr size_t kPartVersion = 4;
constexpr size_t kPartLength = 5;
constexpr size_t kPartIsLast = 7;
constexpr size_t kPartId = 8;
constexpr size_t kPartItemCount = 10;
constexpr size_t kPartHeader = 12;

// Item header.
constexpr size_t kItemApplicationId = 0;
constexpr size_t kItemId = 2;
constexpr size_t kItemType = 4;
constexpr size_t kItemLength = 5;
constexpr size_t kItemHeader = 7;

inline uint16_t get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }
inline uint32_t get32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 | static_cast<uint32_t>(at[2]) << 8 |
         at[3];
}
inline void put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}
inline void put32(uint8_t* at, uint32_t value) {
  put16(at, static_cast<uint16_t>(value >> 16));
  put16(at + 2, static_cast<uint16_t>(value));
}

}  // namespace eppwire
