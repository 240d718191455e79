// The POSIX socket calls that differ from Winsock's; the rest is in sockets_common.cpp.
#include <fcntl.h>
#include <netinet/tcp.h>

#include <chrono>
#include <vector>

#include "platform/posix/sockets_native.h"
#include "platform/sockets.h"

namespace pellvane::net {
namespace {

int domainOf(Family family) {
    return family == Family::ipv4 ? AF_INET : AF_INET6;
}

// poll() for one socket and one kind of readiness, going on after a signal until the time
// is up; the answer of poll, 0 when the time passed.
int pollOne(SocketHandle socket, short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{native::toNative(socket), events, 0};
        const int ready = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
    }
}

}  // namespace

namespace native {

bool waitWritable(SocketHandle socket, int timeoutMs) {
    return pollOne(socket, POLLOUT, timeoutMs) >= 0;
}

}  // namespace native

bool startSocketLibrary() {
    return true;
}
void stopSocketLibrary() {}

SocketHandle openSocket(Family family, Transport transport) {
    const int type = transport == Transport::stream ? SOCK_STREAM : SOCK_DGRAM;
    const int protocol = transport == Transport::stream ? IPPROTO_TCP : IPPROTO_UDP;
    const int fd = socket(domainOf(family), type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? invalidSocket : fd;
}

int closeSocket(SocketHandle socket) {
    return close(native::toNative(socket));
}

bool setExclusiveAddress(SocketHandle socket, Transport transport) {
    return transport == Transport::datagram || setReuseAddress(socket);
}

bool setNonBlocking(SocketHandle socket) {
    const int flags = fcntl(native::toNative(socket), F_GETFL, 0);
    return flags >= 0 && fcntl(native::toNative(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool setKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int probes) {
    const int fd = native::toNative(socket);
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) == 0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds) ==
               0 &&
           setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0;
}

SocketHandle acceptConnection(SocketHandle listener) {
    const int fd = accept4(native::toNative(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? invalidSocket : fd;
}

bool connectWithin(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                   int timeoutMs) {
    if (!setNonBlocking(socket)) {
        return false;
    }
    errno = 0;  // an address that does not parse fails without setting it
    if (connectTo(socket, family, numericHost, port)) {
        return true;
    }
    if (errno != EINPROGRESS || pollOne(socket, POLLOUT, timeoutMs) <= 0) {
        return false;
    }
    int error = 0;
    socklen_t errorLength = sizeof error;
    return getsockopt(native::toNative(socket), SOL_SOCKET, SO_ERROR, &error, &errorLength) == 0 &&
           error == 0;
}

bool peerHasGone(SocketHandle socket) {
    char next = 0;
    const ssize_t peeked = recv(native::toNative(socket), &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0) {
        return !native::lastCallWouldBlock() && errno != EINTR;
    }
    return peeked == 0;
}

// poll() rather than select(): select cannot hold a descriptor of FD_SETSIZE (1024) or more.
// The readiness mapping is select's own on Linux: data, hang-up and errors make a socket
// readable, urgent data is an exception, and an invalid descriptor fails the wait.
int waitForReadiness(std::span<const SocketHandle> sockets, std::span<ReadinessFlags> flags,
                     int timeoutMs) {
    std::vector<pollfd> entries(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const short wanted = static_cast<short>((flags[i].wantReadable ? POLLIN : 0) |
                                                (flags[i].wantWritable ? POLLOUT : 0) | POLLPRI);
        entries[i] = pollfd{native::toNative(sockets[i]), wanted, 0};
    }
    int ready = poll(entries.data(), entries.size(), timeoutMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    int marked = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const short events = entries[i].revents;
        if ((events & POLLNVAL) != 0) {
            return -1;
        }
        // A hang-up or an error is reported whatever was asked for: the reader finds it.
        flags[i].readable = (events & (POLLIN | POLLHUP | POLLERR)) != 0;
        flags[i].writable = (events & POLLOUT) != 0;
        flags[i].exceptional = (events & POLLPRI) != 0;
        marked += (flags[i].readable ? 1 : 0) + (flags[i].writable ? 1 : 0) +
                  (flags[i].exceptional ? 1 : 0);
    }
    return marked;
}

}  // namespace pellvane::net
