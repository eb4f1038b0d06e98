// Stream sockets: the system's socket headers (addresses, name resolution)
// and the calls beneath the socket room, each shaped like its POSIX call: a
// failure returns -1 with the reason in errno (Winsock's codes are mapped to
// the errno values of the same meaning, so callers classify them once).
// Sockets are ints.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <sys/types.h>

#include <cstddef>

// Starts the system's socket layer for the process (once; later calls only
// report the outcome). Name resolution and the calls below need it. False
// when sockets cannot be used.
bool portStartSockets();

// A non-blocking stream socket of the family that child processes do not
// inherit.
int portSocketOpen(int family);
// Starts a connect; a connect that goes on in the background fails with
// EINPROGRESS.
int portSocketConnect(int sock, const sockaddr* address, socklen_t length);
// The outcome of a finished background connect as an errno value (0: connected).
int portSocketPendingError(int sock, int* pending);
// One send that neither waits nor raises a signal.
ssize_t portSocketSend(int sock, const void* data, size_t count);
// One receive that does not wait; 0 at the end of the stream.
ssize_t portSocketRecv(int sock, void* buffer, size_t size);
void portSocketShutdown(int sock);
// Frees the socket whatever the result (never repeat).
void portSocketClose(int sock);

// One readiness wait of at most ms milliseconds (< 0: no limit): 1 ready or
// in error (the next call reports the error), 0 time-out, -1 failure. The
// select form is offered where the system has both; select cannot take
// every socket (portSocketSelectable).
int portSocketPoll(int sock, bool readable, int ms);
int portSocketSelect(int sock, bool readable, int ms);
bool portSocketSelectable(int sock);
