// The POSIX side of the socket calls that platform/sockets_common.cpp writes once: the
// system headers, the native types, and the few calls that differ.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sockets.h"

namespace pellvane::net::native {

using Socket = int;
using AddressLength = socklen_t;
using BufferLength = std::size_t;

// A write to a socket whose peer has gone must fail, not raise SIGPIPE.
inline constexpr int sendFlags = MSG_NOSIGNAL;
inline constexpr int shutDownSending = SHUT_WR;
inline constexpr int shutDownBoth = SHUT_RDWR;

inline Socket toNative(SocketHandle socket) {
    return static_cast<Socket>(socket);
}

inline bool lastCallWouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// Waits until the socket takes more data or `timeoutMs` passes; false when the wait fails.
bool waitWritable(SocketHandle socket, int timeoutMs);

}  // namespace pellvane::net::native
