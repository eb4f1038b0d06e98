// Internals shared by the files of the network layer: failure recording,
// the readiness of the layer, the IP protocol usage and test hooks.
#pragma once

#include <string>
#include <string_view>

#include "ni/ni.h"

// ---- failure recording (ni_trace.cpp) --------------------------------------
struct NiFailure {
  const char* func;       // the failing NI function, "NiRawWrite"
  int code;               // NIE... code
  std::string codeArg;    // fills the "%s" of the code's text (partner, host)
  std::string message;    // the failure's own message
  int sysErr = 0;         // errno involved, 0 for none
  int traceLevel = 1;     // the error line is written from this trace level on
                          // (NI_RECORD_ONLY: stored, never written)
  bool logEntry = false;  // also the "***LOG Q0I=>" entry (at trace level 1)
  bool warning = false;   // a warning line instead of an error line
};
// Stores the failure as the calling thread's NiLastError and writes its
// lines; returns failure.code. file/line: the reporting source location.
int niRecord(const char* file, int line, const NiFailure& failure);
#define NI_RECORD(...) niRecord(__FILE__, __LINE__, NiFailure{__VA_ARGS__})
constexpr int NI_RECORD_ONLY = 4;
// The failure of an operation given a handle that fails the validity check.
#define NI_INVALID_HDL_FAILURE(func, hdl) NI_RECORD((func), NIEINVAL, "", "invalid hdl " + std::to_string(hdl))

// Whether refused and timed-out connects are logged (trace-mask bit 39).
bool niConnLogOn();

// ---- layer state (ni_init.cpp) ---------------------------------------------
bool niInitialised();

// ---- a forked child (ni_fork.cpp and the files whose state it renews) ----
// Registers the layer's fork handler, once per process.
void niRegisterForkHandler();
// The table's lock is made anew and every entry freed: the child's copies of
// the parent's sockets are closed (the parent's stay open), and operations of
// threads that did not follow are forgotten.
void niHdlTableForgetInChild();
void niNameBufferRenewLock();
void niInitRenewLock();
// "localhost", a name under it, either with a final dot, in any case: the
// loopback address even where the resolver does not know the name.
bool niIsLoopbackName(std::string_view name);

// IPv4 and IPv6 both, decided once from VEL_IPv6_ACTIVE on first need.
bool niIPv6Active();

// ---- test hooks ------------------------------------------------------------
// Forgets the IP protocol decision so that the next need reads the
// environment again.
void NiIResetIPProtoUsage();
// Entries of the handle table not free (including those whose socket is still
// held by a running operation).
int NiIHandlesInUse();

// ---- entry points ----------------------------------------------------------
// Runs the body of a public operation; an exception (out of memory) becomes
// NIEINTERN so that nothing escapes the layer.
template <typename Body>
int niGuarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return NIEINTERN;
  }
}
