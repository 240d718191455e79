#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/sockets.h"

namespace pellvane::net {
namespace {

int descriptor(SocketHandle socket) {
    return static_cast<int>(socket);
}

int domainOf(Family family) {
    return family == Family::ipv4 ? AF_INET : AF_INET6;
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// Fills a socket address for the family; false when the host text does not parse.
bool makeAddress(Family family, const char* numericHost, std::uint16_t port,
                 sockaddr_storage& storage, socklen_t& length) {
    std::memset(&storage, 0, sizeof storage);
    if (family == Family::ipv4) {
        auto& address = reinterpret_cast<sockaddr_in&>(storage);
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        if (numericHost != nullptr && inet_pton(AF_INET, numericHost, &address.sin_addr) != 1) {
            return false;
        }
        length = sizeof(sockaddr_in);
    } else {
        auto& address = reinterpret_cast<sockaddr_in6&>(storage);
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        if (numericHost != nullptr && inet_pton(AF_INET6, numericHost, &address.sin6_addr) != 1) {
            return false;
        }
        length = sizeof(sockaddr_in6);
    }
    return true;
}

HostAddress hostOf(const sockaddr_storage& storage) {
    HostAddress host;
    if (storage.ss_family == AF_INET) {
        const auto& address = reinterpret_cast<const sockaddr_in&>(storage);
        std::memcpy(host.bytes.data(), &address.sin_addr, 4);
        return host;
    }
    const auto& address = reinterpret_cast<const sockaddr_in6&>(storage);
    if (IN6_IS_ADDR_V4MAPPED(&address.sin6_addr)) {
        std::memcpy(host.bytes.data(), address.sin6_addr.s6_addr + 12, 4);
        return host;
    }
    host.family = Family::ipv6;
    std::memcpy(host.bytes.data(), &address.sin6_addr, 16);
    return host;
}

bool bindTo(SocketHandle socket, Family family, const char* host, std::uint16_t port) {
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!makeAddress(family, host, port, storage, length)) {
        return false;
    }
    if (family == Family::ipv6) {
        int on = 1;
        setsockopt(descriptor(socket), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    return bind(descriptor(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

}  // namespace

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
    return close(descriptor(socket));
}

bool setReuseAddress(SocketHandle socket) {
    int on = 1;
    return setsockopt(descriptor(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool setExclusiveAddress(SocketHandle socket, Transport transport) {
    return transport == Transport::datagram || setReuseAddress(socket);
}

bool setNonBlocking(SocketHandle socket) {
    const int flags = fcntl(descriptor(socket), F_GETFL, 0);
    return flags >= 0 && fcntl(descriptor(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool setReceiveBufferSize(SocketHandle socket, int bytes) {
    return setsockopt(descriptor(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool bindWildcard(SocketHandle socket, Family family, std::uint16_t port) {
    return bindTo(socket, family, nullptr, port);
}

bool bindLoopback(SocketHandle socket, Family family, std::uint16_t port) {
    return bindTo(socket, family, family == Family::ipv4 ? "127.0.0.1" : "::1", port);
}

bool bindAddress(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port) {
    return numericHost != nullptr && bindTo(socket, family, numericHost, port);
}

bool boundPort(SocketHandle socket, std::uint16_t& port, int& addressLength) {
    sockaddr_storage storage;
    socklen_t length = sizeof storage;
    if (getsockname(descriptor(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return false;
    }
    addressLength = static_cast<int>(length);
    port = storage.ss_family == AF_INET
               ? ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port)
               : ntohs(reinterpret_cast<const sockaddr_in6&>(storage).sin6_port);
    return true;
}

bool listenOn(SocketHandle socket, int backlog) {
    return listen(descriptor(socket), backlog) == 0;
}

SocketHandle acceptConnection(SocketHandle listener) {
    const int fd = accept4(descriptor(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? invalidSocket : fd;
}

bool connectTo(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port) {
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!makeAddress(family, numericHost, port, storage, length)) {
        return false;
    }
    return connect(descriptor(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

bool connectWithin(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                   int timeoutMs) {
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!makeAddress(family, numericHost, port, storage, length) || !setNonBlocking(socket)) {
        return false;
    }
    if (connect(descriptor(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{descriptor(socket), POLLOUT, 0};
        const int ready = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0) {
            break;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
    int error = 0;
    socklen_t errorLength = sizeof error;
    return getsockopt(descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &errorLength) == 0 &&
           error == 0;
}

bool peerHost(SocketHandle socket, HostAddress& host) {
    sockaddr_storage storage;
    socklen_t length = sizeof storage;
    if (getpeername(descriptor(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return false;
    }
    host = hostOf(storage);
    return true;
}

int receiveSome(SocketHandle socket, void* buffer, std::size_t length) {
    const ssize_t received = recv(descriptor(socket), buffer, length, 0);
    if (received < 0) {
        return wouldBlock() ? transferWouldBlock : transferFailed;
    }
    return static_cast<int>(received);
}

int sendSome(SocketHandle socket, const void* data, std::size_t length) {
    const ssize_t sent = send(descriptor(socket), data, length, MSG_NOSIGNAL);
    if (sent < 0) {
        return wouldBlock() ? transferWouldBlock : transferFailed;
    }
    return static_cast<int>(sent);
}

bool sendAll(SocketHandle socket, const void* data, std::size_t length, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
        const int sent = sendSome(socket, bytes + done, length - done);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent != transferWouldBlock) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{descriptor(socket), POLLOUT, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

int receiveDatagram(SocketHandle socket, void* buffer, std::size_t length, DatagramSource& source) {
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    socklen_t addressLength = sizeof storage;
    const ssize_t received = recvfrom(descriptor(socket), buffer, length, 0,
                                      reinterpret_cast<sockaddr*>(&storage), &addressLength);
    if (received < 0) {
        return wouldBlock() ? transferWouldBlock : transferFailed;
    }
    source.sourceLength = static_cast<int>(addressLength);
    source.host = hostOf(storage);
    return static_cast<int>(received);
}

int sendDatagram(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                 const void* data, std::size_t length) {
    sockaddr_storage storage;
    socklen_t addressLength = 0;
    if (!makeAddress(family, numericHost, port, storage, addressLength)) {
        return transferFailed;
    }
    const ssize_t sent = sendto(descriptor(socket), data, length, MSG_NOSIGNAL,
                                reinterpret_cast<sockaddr*>(&storage), addressLength);
    if (sent < 0) {
        return wouldBlock() ? transferWouldBlock : transferFailed;
    }
    return static_cast<int>(sent);
}

bool peerHasGone(SocketHandle socket) {
    char next = 0;
    const ssize_t peeked = recv(descriptor(socket), &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0) {
        return !wouldBlock() && errno != EINTR;
    }
    return peeked == 0;
}

void shutdownBoth(SocketHandle socket) {
    shutdown(descriptor(socket), SHUT_RDWR);
}

bool shutdownSend(SocketHandle socket) {
    return shutdown(descriptor(socket), SHUT_WR) == 0;
}

bool setResetOnClose(SocketHandle socket) {
    const linger immediate{1, 0};
    return setsockopt(descriptor(socket), SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate) == 0;
}

std::vector<NumericAddress> lookUpHost(const char* name) {
    std::vector<NumericAddress> found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (name == nullptr || getaddrinfo(name, nullptr, &hints, &results) != 0) {
        return found;
    }
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
        NumericAddress address;
        if (entry->ai_family == AF_INET || entry->ai_family == AF_INET6) {
            address.family = entry->ai_family == AF_INET ? Family::ipv4 : Family::ipv6;
            if (getnameinfo(entry->ai_addr, entry->ai_addrlen, address.text.data(),
                            static_cast<socklen_t>(address.text.size()), nullptr, 0,
                            NI_NUMERICHOST) == 0) {
                found.push_back(address);
            }
        }
    }
    freeaddrinfo(results);
    return found;
}

// poll() rather than select(): select cannot hold a descriptor of FD_SETSIZE (1024) or more.
// The readiness mapping is select's own on Linux: data, hang-up and errors make a socket
// readable, urgent data is an exception, and an invalid descriptor fails the wait.
int waitForReadiness(std::span<const SocketHandle> sockets, std::span<ReadinessFlags> flags,
                     int timeoutMs) {
    std::vector<pollfd> entries(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        entries[i] = pollfd{descriptor(sockets[i]), POLLIN | POLLPRI, 0};
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
        flags[i].readable = (events & (POLLIN | POLLHUP | POLLERR)) != 0;
        flags[i].exceptional = (events & POLLPRI) != 0;
        marked += (flags[i].readable ? 1 : 0) + (flags[i].exceptional ? 1 : 0);
    }
    return marked;
}

bool hostName(char* buffer, std::size_t size) {
    return gethostname(buffer, size) == 0;
}

}  // namespace pellvane::net
