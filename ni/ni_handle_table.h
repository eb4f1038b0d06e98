// The handle table: NI_HDL_TABLE_SIZE entries, each with its state, socket,
// partner and reuse counter, guarded by one recursive mutex ("NI hdl
// section") that is never held while a socket is waited on.
//
// An operation on an open handle acquires it (niHdlAcquire), works on the
// socket outside the lock and releases it. Closing marks the entry free at
// once (the handle number stops being valid) and shuts the socket down; the
// socket itself is closed, and the entry handed out again, only after the
// last operation still inside has released it.
#pragma once

#include <cstdint>
#include <string>

#include "ni/ni.h"

// Creates the table and its mutex; false when the mutex cannot be made.
bool niHdlTableInit();

// A fresh handle in state NI_INITIAL_CON, acquired by the caller (release it
// or discard it). NIEINTERN when every entry is taken.
int niHdlAlloc(NI_HDL* hdl);
// Sets the socket and partner of a handle just allocated.
void niHdlAttach(NI_HDL hdl, int sock, const NiHostAddr& addr, uint16_t port);
// Closes the socket of a handle that its creator gives up and frees the entry.
void niHdlDiscard(NI_HDL hdl);

struct NiHdlView {
  int sock = -1;
  uint8_t state = NI_FREE;
};
// Validity check (in range, state 16 or more, entry holds exactly this
// number) and acquisition; false for an invalid handle.
bool niHdlAcquire(NI_HDL hdl, NiHdlView* view);
void niHdlRelease(NI_HDL hdl);
// Changes the state of a handle that is still valid.
void niHdlSetState(NI_HDL hdl, uint8_t state);
// "addr:port" of the partner, for messages ("" for an invalid handle).
std::string niHdlPartner(NI_HDL hdl);

// Frees the entry as described above; false for an invalid handle.
bool niHdlClose(const char* func, NI_HDL hdl);

int niHdlInUse();
