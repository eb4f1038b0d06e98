// The end-to-end passport library: passports in memory, their network form,
// and GUID texts.
//
// A passport is a small record that travels with a request from component
// to component. This library keeps passports behind opaque handles, writes
// them to the network form (eppSerialize) and reads them back from it
// (eppDeserialize). It is C-style: every operation returns an int32 code
// (EPP_OK on success) and never throws; diagnostics go to the trace function
// of the environment.
//
// Environment: eppSetEnvironment must succeed once before any other call;
// until then every operation returns EPP_FAILED. It is set once per process
// before other threads use the library (a later call replaces it; passports
// keep the memory functions they were created with).
//
// Locking: each passport has its own recursive lock (tag "EPPLIB"); every
// operation on a handle holds it for its whole work, so one passport may be
// shared between threads. Different passports are independent. A handle must
// not be used after eppDelete (the record is gone; its eye-catcher is cleared
// first, so a stale handle to memory not yet reused is refused with
// EPP_INVALID).
//
// Check order of every operation on a handle: library initialised (8), the
// operation's own trace line, handle valid (7: null, or a core record or an
// occupied variable-part slot not starting with "*TH*"), version high enough
// for the field (4), value in range (6 or 7), then the work under the lock
// (8 when the lock cannot be taken).
//
// Diagnostics: lines at or below the environment's trace level are passed to
// its trace function, at most 255 UTF-16 characters each; level-1 lines are
// errors and start with "*** ERROR => ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- return codes --------------------------------------------------------
constexpr int32_t EPP_OK = 0;
constexpr int32_t EPP_ITEM_EXISTS = 1;      // same application and item id
constexpr int32_t EPP_VARPART_FULL = 3;     // the part would exceed 512 bytes
constexpr int32_t EPP_VERSION_TOO_LOW = 4;  // the field needs a higher version
constexpr int32_t EPP_AREA_TOO_SMALL = 5;   // the caller's output area
constexpr int32_t EPP_OUT_OF_RANGE = 6;     // value too long, size out of range
constexpr int32_t EPP_INVALID = 7;          // handle, parameter or data stream
constexpr int32_t EPP_FAILED = 8;           // not initialised, lock, allocation, no free part slot
constexpr int32_t EPP_TOO_MANY_ITEMS = 9;   // five items per application and part
constexpr int32_t EPP_CONVERSION = 10;      // a string of the stream is not UTF-8

// ---- sizes of the network form ---------------------------------------------
constexpr size_t EPP_V1_SIZE = 160;
constexpr size_t EPP_V2_SIZE = 185;
constexpr size_t EPP_V3_SIZE = 230;  // without variable parts

// ---- field limits (characters) --------------------------------------------
constexpr size_t EPP_COMPONENT_NAME_MAX = 32;
constexpr size_t EPP_USER_ID_MAX = 32;
constexpr size_t EPP_ACTION_MAX = 40;
constexpr size_t EPP_PRE_COMPONENT_NAME_MAX = 32;
constexpr size_t EPP_TRANSACTION_ID_MAX = 32;
constexpr size_t EPP_CLIENT_MAX = 3;
constexpr size_t EPP_ID_BYTES = 16;  // root context id, connection id

// ---- variable-part items ---------------------------------------------------
// Version 3 passports carry up to two variable parts (ids 0 to 2), each with
// items keyed by (application id, item id).
constexpr uint8_t EPP_ITEM_BYTES = 1;   // 1 to 64 bytes
constexpr uint8_t EPP_ITEM_NUMBER = 2;  // uint32 (length 4), data points to a host-order uint32_t
constexpr uint8_t EPP_ITEM_ID16 = 3;    // 16 bytes (length 16)
constexpr uint8_t EPP_ITEM_STRING = 4;  // 1 to 64 UTF-16 characters (length counts characters)
constexpr uint16_t EPP_MAX_VARPART_ID = 2;

// ---- types -------------------------------------------------------------------
struct EppPassport;
using EppHandle = EppPassport*;
using EppAllocFunc = void* (*)(size_t bytes);
using EppFreeFunc = void (*)(void* block);
// Receives one NUL-terminated diagnostic line (it usually ends with '\n').
using EppTraceFunc = void (*)(const char16_t* line);

// ---- environment -------------------------------------------------------------
// component 1 to 9 and version 1 to 3 are given to every new passport;
// allocFunc and freeFunc serve passports, variable parts and items; traceFunc
// may be null (no diagnostics); traceLevel 0 or more. EPP_INVALID when any
// value is out of range or a memory function is missing.
int32_t eppSetEnvironment(uint16_t component, uint8_t version, EppAllocFunc allocFunc, EppFreeFunc freeFunc,
                          EppTraceFunc traceFunc, int32_t traceLevel);

// ---- passports -----------------------------------------------------------------
// A new passport with the environment's version and component, everything
// else empty or zero. The first passport (while none is the default) becomes
// the default passport.
int32_t eppInit(EppHandle* out);
// Frees the variable parts, the lock and the passport.
int32_t eppDelete(EppHandle handle);
int32_t eppSetDefault(EppHandle handle);

// ---- network form ---------------------------------------------------------------
// The bytes eppSerialize writes: 160 (version 1), 185 (version 2), or 230 plus
// 12 per variable part plus 7 and the data per item (version 3; the length for
// bytes, 4 for a number, 16 for an id, the UTF-8 bytes of a string).
int32_t eppNeededNetworkSize(EppHandle handle, size_t* size);
// Writes the network form into buffer; EPP_AREA_TOO_SMALL (nothing written)
// when bufferSize is below the needed size. *usedBytes: the bytes written.
int32_t eppSerialize(EppHandle handle, uint8_t* buffer, size_t bufferSize, size_t* usedBytes);
// Reads a passport from stream; on success *out is a new passport (the
// caller deletes it), on failure *out is null and nothing is left behind.
// Never reads outside [stream, stream + streamLength), nor outside the
// passport's own length field.
int32_t eppDeserialize(const uint8_t* stream, size_t streamLength, EppHandle* out);

// ---- fields ---------------------------------------------------------------------
// Versions 1 to 3; other values give EPP_INVALID. Fields the new version does
// not carry stay in memory but are not written.
int32_t eppSetVersion(EppHandle handle, uint8_t version);
int32_t eppGetVersion(EppHandle handle, uint8_t* version);
// Two raw bytes, kept in the order given (the first is the low-order byte of
// the trace flag as a number).
int32_t eppSetTraceFlag(EppHandle handle, const uint8_t flag[2]);
int32_t eppGetTraceFlag(EppHandle handle, uint8_t flag[2]);

// Text setters take length characters of value (value may be null only when
// length is 0); EPP_OUT_OF_RANGE above the field's limit.
int32_t eppSetComponentName(EppHandle handle, const char16_t* value, size_t length);
int32_t eppSetUserId(EppHandle handle, const char16_t* value, size_t length);
int32_t eppSetAction(EppHandle handle, const char16_t* value, size_t length);
int32_t eppSetPreComponentName(EppHandle handle, const char16_t* value, size_t length);
int32_t eppSetTransactionId(EppHandle handle, const char16_t* value, size_t length);  // version 2
int32_t eppSetClient(EppHandle handle, const char16_t* value, size_t length);         // version 3
int32_t eppSetService(EppHandle handle, uint16_t service);
int32_t eppSetActionType(EppHandle handle, uint16_t actionType);
// The numeric component id; meant for reading a stream, so it traces nothing.
int32_t eppSetComponent(EppHandle handle, uint16_t component);

// Version 2: copies the transaction id into buffer and fills the rest of its
// capacity characters with blanks (no NUL); *length is the id's length.
// EPP_AREA_TOO_SMALL when capacity is below the id's length.
int32_t eppGetTransactionId(EppHandle handle, size_t capacity, char16_t* buffer, size_t* length);

// Version 3.
int32_t eppSetRootContextId(EppHandle handle, const uint8_t id[EPP_ID_BYTES]);
int32_t eppGetRootContextId(EppHandle handle, uint8_t id[EPP_ID_BYTES]);
int32_t eppSetConnectionId(EppHandle handle, const uint8_t id[EPP_ID_BYTES]);
int32_t eppGetConnectionId(EppHandle handle, uint8_t id[EPP_ID_BYTES]);
int32_t eppSetConnectionCounter(EppHandle handle, uint32_t counter);
int32_t eppGetConnectionCounter(EppHandle handle, uint32_t* counter);

// ---- variable parts (version 3) ---------------------------------------------------
// Adds an item to the part with varPartId (0 to 2), creating the part in a
// free slot when needed (EPP_FAILED when both slots hold other parts). Codes:
// EPP_OUT_OF_RANGE for a length the type does not allow, EPP_INVALID for an
// unknown type, EPP_VARPART_FULL, EPP_ITEM_EXISTS, EPP_TOO_MANY_ITEMS. A part
// created by a failing call is removed again.
int32_t eppSetItem(EppHandle handle, uint16_t varPartId, uint16_t applicationId, uint16_t itemId, uint8_t type,
                   uint8_t length, const void* data);
// Removes the part with varPartId and its items; EPP_OK also when there is none.
int32_t eppClearVarPart(EppHandle handle, uint16_t varPartId);

// ---- GUIDs ---------------------------------------------------------------------------
// 32 upper-case hexadecimal digits derived from a time-based UUID; empty on
// any failure. Serialised by a process-wide lock; initialises the thread
// layer if needed. Does not need the environment.
std::u16string CreateGuidString();
