// Winsock's fd_set holds 64 handles unless told otherwise; a server watches up to 64
// sockets and its waker beside them.
#define FD_SETSIZE 128
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstring>

#include "platform/sockets.h"

namespace pellvane::net {
namespace {

SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

SocketHandle wrap(SOCKET socket) {
    return socket == INVALID_SOCKET ? invalidSocket : static_cast<SocketHandle>(socket);
}

int domainOf(Family family) {
    return family == Family::ipv4 ? AF_INET : AF_INET6;
}

bool wouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

bool makeAddress(Family family, const char* numericHost, std::uint16_t port,
                 sockaddr_storage& storage, int& length) {
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
    int length = 0;
    if (!makeAddress(family, host, port, storage, length)) {
        return false;
    }
    return bind(native(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

int transferResult(int result) {
    if (result == SOCKET_ERROR) {
        return wouldBlock() ? transferWouldBlock : transferFailed;
    }
    return result;
}

}  // namespace

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
    return closesocket(native(socket));
}

bool setReuseAddress(SocketHandle socket) {
    BOOL on = TRUE;
    return setsockopt(native(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

bool setExclusiveAddress(SocketHandle socket, Transport) {
    // With SO_REUSEADDR any local program could bind the same port and take the pads'
    // traffic; the ports are the system's choice, so nothing relies on sharing them.
    BOOL on = TRUE;
    return setsockopt(native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool setNonBlocking(SocketHandle socket) {
    u_long on = 1;
    return ioctlsocket(native(socket), FIONBIO, &on) == 0;
}

bool setReceiveBufferSize(SocketHandle socket, int bytes) {
    return setsockopt(native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0;
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
    int length = sizeof storage;
    if (getsockname(native(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return false;
    }
    addressLength = length;
    port = storage.ss_family == AF_INET
               ? ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port)
               : ntohs(reinterpret_cast<const sockaddr_in6&>(storage).sin6_port);
    return true;
}

bool listenOn(SocketHandle socket, int backlog) {
    return listen(native(socket), backlog) == 0;
}

SocketHandle acceptConnection(SocketHandle listener) {
    return wrap(accept(native(listener), nullptr, nullptr));
}

bool connectTo(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port) {
    sockaddr_storage storage;
    int length = 0;
    if (!makeAddress(family, numericHost, port, storage, length)) {
        return false;
    }
    return connect(native(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

bool connectWithin(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                   int timeoutMs) {
    sockaddr_storage storage;
    int length = 0;
    if (!makeAddress(family, numericHost, port, storage, length) || !setNonBlocking(socket)) {
        return false;
    }
    if (connect(native(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0) {
        return true;
    }
    if (!wouldBlock()) {
        return false;
    }
    // Winsock reports a connect that succeeded as writable and one that failed as an
    // exception, not as writable.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(native(socket), &writable);
    FD_SET(native(socket), &failed);
    const int waitMs = timeoutMs > 0 ? timeoutMs : 0;
    timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &wait) <= 0 ||
        !FD_ISSET(native(socket), &writable)) {
        return false;
    }
    int error = 0;
    int errorLength = sizeof error;
    return getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                      &errorLength) == 0 &&
           error == 0;
}

bool peerHost(SocketHandle socket, HostAddress& host) {
    sockaddr_storage storage;
    int length = sizeof storage;
    if (getpeername(native(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return false;
    }
    host = hostOf(storage);
    return true;
}

int receiveSome(SocketHandle socket, void* buffer, std::size_t length) {
    return transferResult(
        recv(native(socket), static_cast<char*>(buffer), static_cast<int>(length), 0));
}

int sendSome(SocketHandle socket, const void* data, std::size_t length) {
    return transferResult(
        send(native(socket), static_cast<const char*>(data), static_cast<int>(length), 0));
}

bool sendAll(SocketHandle socket, const void* data, std::size_t length, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* bytes = static_cast<const char*>(data);
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
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(native(socket), &writable);
        timeval wait{static_cast<long>(left.count() / 1000),
                     static_cast<long>(left.count() % 1000) * 1000};
        if (select(0, nullptr, &writable, nullptr, &wait) == SOCKET_ERROR) {
            return false;
        }
    }
    return true;
}

int receiveDatagram(SocketHandle socket, void* buffer, std::size_t length, DatagramSource& source) {
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    int addressLength = sizeof storage;
    const int received =
        recvfrom(native(socket), static_cast<char*>(buffer), static_cast<int>(length), 0,
                 reinterpret_cast<sockaddr*>(&storage), &addressLength);
    if (received == SOCKET_ERROR) {
        return wouldBlock() ? transferWouldBlock : transferFailed;
    }
    source.sourceLength = addressLength;
    source.host = hostOf(storage);
    return received;
}

int sendDatagram(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                 const void* data, std::size_t length) {
    sockaddr_storage storage;
    int addressLength = 0;
    if (!makeAddress(family, numericHost, port, storage, addressLength)) {
        return transferFailed;
    }
    return transferResult(sendto(native(socket), static_cast<const char*>(data),
                                 static_cast<int>(length), 0, reinterpret_cast<sockaddr*>(&storage),
                                 addressLength));
}

bool peerHasGone(SocketHandle socket) {
    char next = 0;
    const int peeked = recv(native(socket), &next, 1, MSG_PEEK);
    if (peeked == SOCKET_ERROR) {
        return !wouldBlock();
    }
    return peeked == 0;
}

void shutdownBoth(SocketHandle socket) {
    shutdown(native(socket), SD_BOTH);
}

bool shutdownSend(SocketHandle socket) {
    return shutdown(native(socket), SD_SEND) == 0;
}

bool setResetOnClose(SocketHandle socket) {
    const linger immediate{1, 0};
    return setsockopt(native(socket), SOL_SOCKET, SO_LINGER,
                      reinterpret_cast<const char*>(&immediate), sizeof immediate) == 0;
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
            if (getnameinfo(entry->ai_addr, static_cast<socklen_t>(entry->ai_addrlen),
                            address.text.data(), static_cast<DWORD>(address.text.size()), nullptr,
                            0, NI_NUMERICHOST) == 0) {
                found.push_back(address);
            }
        }
    }
    freeaddrinfo(results);
    return found;
}

// Winsock's select holds up to FD_SETSIZE handles; the servers watch at most 65.
int waitForReadiness(std::span<const SocketHandle> sockets, std::span<ReadinessFlags> flags,
                     int timeoutMs) {
    fd_set readable;
    fd_set exceptional;
    FD_ZERO(&readable);
    FD_ZERO(&exceptional);
    for (SocketHandle socket : sockets) {
        FD_SET(native(socket), &readable);
        FD_SET(native(socket), &exceptional);
    }
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, &exceptional, &wait);
    if (ready == SOCKET_ERROR) {
        return -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        flags[i].readable = FD_ISSET(native(sockets[i]), &readable) != 0;
        flags[i].exceptional = FD_ISSET(native(sockets[i]), &exceptional) != 0;
    }
    return ready;
}

bool hostName(char* buffer, std::size_t size) {
    return gethostname(buffer, static_cast<int>(size)) == 0;
}

}  // namespace pellvane::net
