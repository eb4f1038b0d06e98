// Socket layer: the few POSIX socket calls beneath the network layer, each
// with its failure classified into the cases the network layer reacts to
// (the system calls themselves are port/socket.h's).
//
// Every call returns an SI code (SI_OK on success), leaves the system error
// number in *sysErr where one is asked for (0 when none applies) and never
// throws. Sockets are non-blocking and close-on-exec. Sends never raise
// SIGPIPE (MSG_NOSIGNAL): the host's signal dispositions are left alone.
// The calls keep no state of their own apart from the choice of readiness
// wait (SiUseSelect), so any thread may use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "port/socket.h"

constexpr int SI_OK = 0;
constexpr int SI_EINTERN = -1;        // unexpected failure; see sysErr
constexpr int SI_EINTR = -2;          // interrupted: repeat the call
constexpr int SI_EWOULDBLOCK = -3;    // not ready: wait and repeat
constexpr int SI_ECONN_BROKEN = -4;   // aborted, reset, shut down or ended by the peer
constexpr int SI_ECONN_REFUSED = -5;  // refused or unreachable destination
constexpr int SI_ETIMEOUT = -6;       // the wait ended without readiness
constexpr int SI_EINPROGRESS = -7;    // a non-blocking connect is under way

// Maps an errno value of a socket call to one of the codes above.
int SiClassifyErrno(int err);

// Starts the system's socket layer (once per process); false when sockets
// cannot be used.
bool SiStartup();

// Non-blocking, close-on-exec stream socket of the family (AF_INET, AF_INET6).
int SiSocket(int family, int* sock, int* sysErr);
// Starts a connect: SI_OK (done at once), SI_EINPROGRESS, SI_ECONN_REFUSED, ...
int SiConnect(int sock, const sockaddr* addr, socklen_t len, int* sysErr);
// Outcome of a connect that was in progress and whose socket became writable.
int SiConnectResult(int sock, int* sysErr);
// One send of at most count bytes; *sent holds what went out.
int SiSend(int sock, const void* data, size_t count, size_t* sent, int* sysErr);
// One receive into buf; *received holds what came in. The end of the stream
// is SI_ECONN_BROKEN with *received 0.
int SiRecv(int sock, void* buf, size_t len, size_t* received, int* sysErr);
// Shuts both directions down (wakes other threads waiting on the socket).
void SiShutdown(int sock);
void SiClose(int sock);

// Waits until the socket is ready (or in error, so that the next call reports
// the error): SI_OK or SI_ETIMEOUT. timeoutMs < 0 waits without limit. An
// interrupted wait goes on with the time that is left.
enum class SiReady { readable, writable };
int SiWait(int sock, SiReady what, int32_t timeoutMs, int* sysErr);

// Readiness waits through select instead of poll (sockets numbered beyond
// select's limit still use poll). Process-wide; the default is poll.
void SiUseSelect(bool useSelect);
bool SiUsesSelect();
