// The passport library's records in memory. Internal to passport/ (and its
// tests): callers see only EppHandle.
//
// Every field of a passport, its variable parts and their items is guarded
// by the passport's lock, except eyecatcher, which is written only by
// eppInit and eppDelete. All three records are allocated with the passport's
// alloc function and released with its release function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "passport/epp.h"
#include "thr/thr.h"

constexpr char kEppEyecatcher[4] = {'*', 'T', 'H', '*'};
constexpr size_t kEppEyecatcherSize = sizeof(kEppEyecatcher);

inline bool eppHasEyecatcher(const char* at) { return std::memcmp(at, kEppEyecatcher, kEppEyecatcherSize) == 0; }

// A text field: length characters, NUL-terminated, at most 40.
struct EppText {
  static constexpr size_t kCapacity = 40;
  uint8_t length = 0;
  char16_t chars[kCapacity + 1] = {};
};

// One item; its data (dataSize bytes) follows the record in the same block.
// Number items hold a host-order uint32_t, string items length characters and
// a NUL.
struct EppItem {
  EppItem* next = nullptr;
  uint16_t applicationId = 0;
  uint16_t itemId = 0;
  uint8_t type = 0;
  uint8_t length = 0;
  uint16_t dataSize = 0;

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
};

// usedSize counts 24 for the part and 24 plus the data size per item; it
// never exceeds kEppVarPartLimit.
constexpr uint16_t kEppVarPartBase = 24;
constexpr uint16_t kEppItemBase = 24;
constexpr uint16_t kEppVarPartLimit = 512;

struct EppVarPart {
  char eyecatcher[4] = {'*', 'T', 'H', '*'};
  uint16_t partVersion = 1;
  uint16_t usedSize = kEppVarPartBase;
  uint16_t id = 0;
  uint16_t itemCount = 0;
  EppItem* first = nullptr;  // in order of insertion
  EppItem* last = nullptr;
};

constexpr size_t kEppVarPartSlots = 2;

struct EppPassport {
  char eyecatcher[4] = {'*', 'T', 'H', '*'};
  ThrRecMtx lock;
  uint8_t version = 3;
  uint8_t traceFlag[2] = {0, 0};
  EppText componentName;
  uint16_t service = 0;
  EppText userId;
  EppText action;
  uint16_t actionType = 0;
  EppText preComponentName;
  EppText transactionId;  // version 2 and higher
  EppText client;         // version 3
  uint16_t component = 0;
  uint8_t rootContextId[EPP_ID_BYTES] = {};  // version 3
  uint8_t connectionId[EPP_ID_BYTES] = {};   // version 3
  uint32_t connectionCounter = 0;            // version 3
  uint16_t varPartCount = 0;                 // occupied slots
  EppVarPart* varParts[kEppVarPartSlots] = {nullptr, nullptr};

  // The memory functions of the environment the passport was created in.
  EppAllocFunc alloc = nullptr;
  EppFreeFunc release = nullptr;
};
