// The Winsock calls that differ from POSIX's; the rest is in sockets_common.cpp.
#include "platform/sockets.h"
#include "platform/win32/sockets_native.h"

// After the Winsock headers, which it builds on.
#include <mstcpip.h>

namespace pellvane::net {
namespace {

int domainOf(Family family) {
    return family == Family::ipv4 ? AF_INET : AF_INET6;
}

SocketHandle wrap(SOCKET socket) {
    return socket == INVALID_SOCKET ? invalidSocket : static_cast<SocketHandle>(socket);
}

timeval timeoutOf(int timeoutMs) {
    const int waitMs = timeoutMs > 0 ? timeoutMs : 0;
    return timeval{waitMs / 1000, (waitMs % 1000) * 1000};
}

}  // namespace

namespace native {

bool waitWritable(SocketHandle socket, int timeoutMs) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(toNative(socket), &writable);
    timeval wait = timeoutOf(timeoutMs);
    return select(0, nullptr, &writable, nullptr, &wait) != SOCKET_ERROR;
}

}  // namespace native

bool startSocketLibrary() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopSocketLibrary() {
    WSACleanup();
}

SocketHandle openSocket(Family family, Transport transport) {
    const int type = transport == Transport::stream ? SOCK_STREAM : SOCK_DGRAM;
    const int protocol = transport == Transport::stream ? IPPROTO_TCP : IPPROTO_UDP;
    return wrap(socket(domainOf(family), type, protocol));
}

int closeSocket(SocketHandle socket) {
    return closesocket(native::toNative(socket));
}

bool setExclusiveAddress(SocketHandle socket, Transport) {
    // With SO_REUSEADDR any local program could bind the same port and take the pads'
    // traffic; the ports are the system's choice, so nothing relies on sharing them.
    BOOL on = TRUE;
    return setsockopt(native::toNative(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool setNonBlocking(SocketHandle socket) {
    u_long on = 1;
    return ioctlsocket(native::toNative(socket), FIONBIO, &on) == 0;
}

// Windows takes the times in milliseconds and always sends ten probes.
bool setKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int /*probes*/) {
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = static_cast<ULONG>(idleSeconds) * 1000;
    settings.keepaliveinterval = static_cast<ULONG>(intervalSeconds) * 1000;
    DWORD returned = 0;
    return WSAIoctl(native::toNative(socket), SIO_KEEPALIVE_VALS, &settings, sizeof settings,
                    nullptr, 0, &returned, nullptr, nullptr) == 0;
}

SocketHandle acceptConnection(SocketHandle listener) {
    return wrap(accept(native::toNative(listener), nullptr, nullptr));
}

bool connectWithin(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                   int timeoutMs) {
    if (!setNonBlocking(socket)) {
        return false;
    }
    WSASetLastError(0);  // an address that does not parse fails without setting it
    if (connectTo(socket, family, numericHost, port)) {
        return true;
    }
    if (!native::lastCallWouldBlock()) {
        return false;
    }
    // Winsock reports a connect that succeeded as writable and one that failed as an
    // exception, not as writable.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(native::toNative(socket), &writable);
    FD_SET(native::toNative(socket), &failed);
    timeval wait = timeoutOf(timeoutMs);
    if (select(0, nullptr, &writable, &failed, &wait) <= 0 ||
        !FD_ISSET(native::toNative(socket), &writable)) {
        return false;
    }
    int error = 0;
    int errorLength = sizeof error;
    return getsockopt(native::toNative(socket), SOL_SOCKET, SO_ERROR,
                      reinterpret_cast<char*>(&error), &errorLength) == 0 &&
           error == 0;
}

bool peerHasGone(SocketHandle socket) {
    char next = 0;
    const int peeked = recv(native::toNative(socket), &next, 1, MSG_PEEK);
    if (peeked == SOCKET_ERROR) {
        return !native::lastCallWouldBlock();
    }
    return peeked == 0;
}

// Winsock's select holds up to FD_SETSIZE handles; the servers watch at most 65.
int waitForReadiness(std::span<const SocketHandle> sockets, std::span<ReadinessFlags> flags,
                     int timeoutMs) {
    fd_set readable;
    fd_set writable;
    fd_set exceptional;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&exceptional);
    bool anyWritable = false;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const SOCKET socket = native::toNative(sockets[i]);
        if (flags[i].wantReadable) {
            FD_SET(socket, &readable);
        }
        if (flags[i].wantWritable) {
            FD_SET(socket, &writable);
            anyWritable = true;
        }
        // Every socket is in this set, so select never sees three empty sets (WSAEINVAL).
        FD_SET(socket, &exceptional);
    }
    timeval wait = timeoutOf(timeoutMs);
    const int ready = select(0, &readable, anyWritable ? &writable : nullptr, &exceptional, &wait);
    if (ready == SOCKET_ERROR) {
        return -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const SOCKET socket = native::toNative(sockets[i]);
        flags[i].readable = FD_ISSET(socket, &readable) != 0;
        flags[i].writable = anyWritable && FD_ISSET(socket, &writable) != 0;
        flags[i].exceptional = FD_ISSET(socket, &exceptional) != 0;
    }
    return ready;
}

}  // namespace pellvane::net
