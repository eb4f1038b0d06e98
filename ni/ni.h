// Network interface layer: outgoing TCP connections behind integer handles,
// with uniform return codes, time-outs in milliseconds and its own tracing
// into the library trace log.
//
// Handles: a handle is (table index × 8 + a 3-bit reuse counter); the table
// has NI_HDL_TABLE_SIZE entries. A handle number from before its entry was
// handed out again fails the validity check (NIEINVAL). Only raw mode is
// offered: the caller's bytes go out unchanged, without framing.
//
// Threads: every operation may be called from any thread. The handle table
// is guarded by its own recursive mutex ("NI hdl section"), never held while
// waiting on a socket; a handle closed while another thread is inside an
// operation on it wakes that operation (which then fails) and its socket is
// released only after that operation has left. The trace mask and the IP
// protocol usage are process-wide.
//
// No operation throws; no write raises SIGPIPE.
#pragma once

#include <cstdint>
#include <string>

using NI_HDL = int32_t;
constexpr NI_HDL NI_INVALID_HDL = -1;
constexpr int NI_HDL_TABLE_SIZE = 2048;

// ---- return codes --------------------------------------------------------
constexpr int VEL_O_K = 0;
constexpr int NIEINTERN = -1;
constexpr int NIEHOST_UNKNOWN = -2;
constexpr int NIESERV_UNKNOWN = -3;
constexpr int NIESERV_USED = -4;
constexpr int NIETIMEOUT = -5;
constexpr int NIECONN_BROKEN = -6;
constexpr int NIETOO_SMALL = -7;
constexpr int NIEINVAL = -8;
constexpr int NIECONN_REFUSED = -10;
constexpr int NIEPING = -11;
constexpr int NIECONN_PENDING = -12;
constexpr int NIEVERSION = -13;
constexpr int NIENOFREEPORT = -15;
constexpr int NIEMYHOST_VERIFY = -16;
constexpr int NIESNC_FAILURE = -17;
constexpr int NIEOPCODE = -18;
constexpr int NIEQUE_FULL = -19;
constexpr int NIETOO_BIG = -20;
constexpr int NIEACCEPT = -21;
constexpr int NIEPASSED = -22;
constexpr int NIENO_ANSWER = -23;
constexpr int NIECALL = -24;
constexpr int NIEROUT_HOST_UNKNOWN = -90;  // route errors run on to -104
constexpr int NIEROUT_SNC_FAILURE = -104;

// Name of a code ("VEL_O_K", "NIETIMEOUT", ...; "*** ERROR ***" for an
// unknown code) and its text, a printf template with at most one "%s"
// ("*** ERROR ***" for a code without a text). An unknown code writes
// "<func>: unknown error <code>" at trace level 1.
const char* NiErrName(int code);
const char* NiErrText(int code);

// ---- handle states -------------------------------------------------------
constexpr uint8_t NI_FREE = 0;
constexpr uint8_t NI_INITIAL_LIS = 1;
constexpr uint8_t NI_INITIAL_RIL = 2;
constexpr uint8_t NI_INITIAL_CON = 3;
constexpr uint8_t NI_LISTEN = 17;
constexpr uint8_t NI_RI_LISTEN = 34;
constexpr uint8_t NI_CONN_WAIT = 52;
constexpr uint8_t NI_CONNECTED = 53;
constexpr uint8_t NI_ACCEPTED = 54;
constexpr uint8_t NI_DG_CONNECTED = 71;
constexpr uint8_t NI_DG_UNCONNECTED = 72;
// "NI_CONNECTED" etc.; "INVALID" for any other value.
const char* NiHdlStateName(int state);

// ---- addresses -----------------------------------------------------------
// An IPv6 address; IPv4 addresses in the mapped form ::ffff:a.b.c.d.
struct NiHostAddr {
  uint8_t bytes[16];
};
bool NiAddrIsIPv4(const NiHostAddr& addr);
// "127.0.0.1", "::1".
std::string NiAddrToStr(const NiHostAddr& addr);

// ---- trace mask ----------------------------------------------------------
constexpr uint64_t NI_TRC_MASK_INITIAL = 0x3004018000100001ull;
// Set: refused and timed-out connects are error-log entries and level-1
// lines; clear: they are traced at level 2 only.
constexpr uint64_t NI_TRC_MASK_CONN_LOG = 0x8000000000ull;  // bit 39

// ---- operations ----------------------------------------------------------
// Initialises the layer (handle table, mutexes, socket calls) on the first
// call; later calls only count. 0 or the failure code (then nothing is kept).
int NiInit3();

// Resolves host (UTF-16, at most 63 characters) into addr. Numeric IPv4 and
// IPv6 forms are converted directly (IPv6 only when IPv6 is active, see
// VEL_IPv6_ACTIVE); other names go through the process-wide name buffer,
// which also remembers failures for a while. Route strings ("/H/...") are
// refused. 0, NIEHOST_UNKNOWN or NIEINVAL.
int NiHostToAddr(const char16_t* host, NiHostAddr* addr);

// Opens a raw connection to addr:port and waits at most timeoutMs for it
// (timeoutMs < 0: without limit). 0 with *hdl in state NI_CONNECTED; a
// refused connection, or one still pending at the end of the time-out, gives
// NIECONN_REFUSED and leaves no handle open. *hdl is NI_INVALID_HDL until
// success.
int NiRawHandleForAddr(const NiHostAddr* addr, uint16_t port, int32_t timeoutMs, NI_HDL* hdl);

// Sends all count bytes within timeoutMs in total. 0 when all went out;
// NIETIMEOUT with bytes still unsent (those sent stay sent, *written counts
// them); NIECONN_BROKEN when the peer closed or reset the connection;
// NIEINVAL for an invalid handle, a null buffer or written pointer or a
// negative count.
int NiRawWrite(NI_HDL hdl, const void* data, int32_t count, int32_t timeoutMs, int32_t* written);

// Waits at most timeoutMs for data and stores up to len bytes. 0 with *read
// > 0; NIETIMEOUT when nothing came; NIECONN_BROKEN when the peer ended or
// reset the stream; NIETOO_SMALL for len 0; NIEINVAL as for NiRawWrite.
int NiRawRead(NI_HDL hdl, void* buf, int32_t len, int32_t timeoutMs, int32_t* read);

// Shuts the connection down, closes it and frees the entry; NIEINVAL for an
// invalid handle.
int NiCloseHandle(NI_HDL hdl);

// Clear or set bits of the process-wide trace mask; 0.
int NiDisableTrace(uint64_t mask);
int NiEnableTrace(uint64_t mask);
uint64_t NiTraceMask();

// ---- error information ---------------------------------------------------
// The last failure inside the layer on the calling thread.
struct NiErrorInfo {
  int code = VEL_O_K;
  int sysErr = 0;         // errno involved, 0 for none
  std::string component;  // "NI (network interface)"
  std::string location;   // "ni_connect.cpp 42"
  std::string text;       // the code's text, filled in, and the failure's own message
};
const NiErrorInfo& NiLastError();
