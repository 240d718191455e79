// The Winsock side of the socket calls that platform/sockets_common.cpp writes once: the
// system headers, the native types, and the few calls that differ.
#pragma once

// Winsock's fd_set holds 64 handles unless told otherwise; a server watches up to 64
// sockets and its waker beside them.
#define FD_SETSIZE 128
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/sockets.h"

namespace pellvane::net::native {

using Socket = SOCKET;
using AddressLength = int;
using BufferLength = int;

inline constexpr int sendFlags = 0;  // Winsock raises no signal for a gone peer
inline constexpr int shutDownSending = SD_SEND;
inline constexpr int shutDownBoth = SD_BOTH;

inline Socket toNative(SocketHandle socket) {
    return static_cast<Socket>(socket);
}

inline bool lastCallWouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// Waits until the socket takes more data or `timeoutMs` passes; false when the wait fails.
bool waitWritable(SocketHandle socket, int timeoutMs);

}  // namespace pellvane::net::native
