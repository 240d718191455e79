// The socket calls that read the same on every system, over the small native layer of
// sockets_native.h (POSIX or Winsock, chosen by the build's include path).
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "platform/sockets.h"
#include "sockets_native.h"

namespace pellvane::net {
namespace {

using native::toNative;

native::BufferLength bufferLength(std::size_t length) {
    return static_cast<native::BufferLength>(
        std::min<std::size_t>(length, std::numeric_limits<int>::max()));
}

int transferResult(long long result) {
    if (result < 0) {
        return native::lastCallWouldBlock() ? transferWouldBlock : transferFailed;
    }
    return static_cast<int>(result);
}

template <class Option>
bool setOption(SocketHandle socket, int level, int name, const Option& value) {
    return setsockopt(toNative(socket), level, name, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

// Fills a socket address for the family; false when the host text does not parse. A null
// host is the wildcard address.
bool makeAddress(Family family, const char* numericHost, std::uint16_t port,
                 sockaddr_storage& storage, native::AddressLength& length) {
    std::memset(&storage, 0, sizeof storage);
    if (family == Family::ipv4) {
        auto& address = reinterpret_cast<sockaddr_in&>(storage);
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        length = sizeof(sockaddr_in);
        return numericHost == nullptr || inet_pton(AF_INET, numericHost, &address.sin_addr) == 1;
    }
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
    return numericHost == nullptr || inet_pton(AF_INET6, numericHost, &address.sin6_addr) == 1;
}

// IPv4-mapped IPv6 addresses come out as IPv4: one host, one address.
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
    native::AddressLength length = 0;
    if (!makeAddress(family, host, port, storage, length)) {
        return false;
    }
    if (family == Family::ipv6) {
        // The IPv6 socket takes IPv6 only; IPv4 has a socket of its own on the same port.
        setOption(socket, IPPROTO_IPV6, IPV6_V6ONLY, 1);
    }
    return bind(toNative(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

}  // namespace

bool setReuseAddress(SocketHandle socket) {
    return setOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
}

bool setReceiveBufferSize(SocketHandle socket, int bytes) {
    return setOption(socket, SOL_SOCKET, SO_RCVBUF, bytes);
}

bool setNoDelay(SocketHandle socket) {
    return setOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

bool setResetOnClose(SocketHandle socket) {
    const linger immediate{1, 0};
    return setOption(socket, SOL_SOCKET, SO_LINGER, immediate);
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
    native::AddressLength length = sizeof storage;
    if (getsockname(toNative(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return false;
    }
    addressLength = static_cast<int>(length);
    port = storage.ss_family == AF_INET
               ? ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port)
               : ntohs(reinterpret_cast<const sockaddr_in6&>(storage).sin6_port);
    return true;
}

bool listenOn(SocketHandle socket, int backlog) {
    return listen(toNative(socket), backlog) == 0;
}

bool connectTo(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port) {
    sockaddr_storage storage;
    native::AddressLength length = 0;
    if (!makeAddress(family, numericHost, port, storage, length)) {
        return false;
    }
    return connect(toNative(socket), reinterpret_cast<sockaddr*>(&storage), length) == 0;
}

bool peerHost(SocketHandle socket, HostAddress& host) {
    sockaddr_storage storage;
    native::AddressLength length = sizeof storage;
    if (getpeername(toNative(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return false;
    }
    host = hostOf(storage);
    return true;
}

int receiveSome(SocketHandle socket, void* buffer, std::size_t length) {
    return transferResult(
        recv(toNative(socket), static_cast<char*>(buffer), bufferLength(length), 0));
}

int sendSome(SocketHandle socket, const void* data, std::size_t length) {
    return transferResult(send(toNative(socket), static_cast<const char*>(data),
                               bufferLength(length), native::sendFlags));
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
        if (left.count() <= 0 || !native::waitWritable(socket, static_cast<int>(left.count()))) {
            return false;
        }
    }
    return true;
}

int receiveDatagram(SocketHandle socket, void* buffer, std::size_t length, DatagramSource& source) {
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    native::AddressLength addressLength = sizeof storage;
    const int received =
        transferResult(recvfrom(toNative(socket), static_cast<char*>(buffer), bufferLength(length),
                                0, reinterpret_cast<sockaddr*>(&storage), &addressLength));
    if (received >= 0) {
        source.sourceLength = static_cast<int>(addressLength);
        source.host = hostOf(storage);
    }
    return received;
}

int sendDatagram(SocketHandle socket, Family family, const char* numericHost, std::uint16_t port,
                 const void* data, std::size_t length) {
    sockaddr_storage storage;
    native::AddressLength addressLength = 0;
    if (!makeAddress(family, numericHost, port, storage, addressLength)) {
        return transferFailed;
    }
    return transferResult(sendto(toNative(socket), static_cast<const char*>(data),
                                 bufferLength(length), native::sendFlags,
                                 reinterpret_cast<sockaddr*>(&storage), addressLength));
}

void shutdownBoth(SocketHandle socket) {
    shutdown(toNative(socket), native::shutDownBoth);
}

bool shutdownSend(SocketHandle socket) {
    return shutdown(toNative(socket), native::shutDownSending) == 0;
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
            if (getnameinfo(entry->ai_addr, static_cast<native::AddressLength>(entry->ai_addrlen),
                            address.text.data(),
                            static_cast<native::AddressLength>(address.text.size()), nullptr, 0,
                            NI_NUMERICHOST) == 0) {
                found.push_back(address);
            }
        }
    }
    freeaddrinfo(results);
    return found;
}

bool hostName(char* buffer, std::size_t size) {
    return gethostname(buffer, bufferLength(size)) == 0;
}

namespace {

std::string ipv4Text(const std::uint8_t* bytes) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            text.push_back('.');
        }
        text += std::to_string(bytes[i]);
    }
    return text;
}

}  // namespace

std::string hostText(const HostAddress& host) {
    if (host.family == Family::ipv4) {
        return ipv4Text(host.bytes.data());
    }
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<std::uint16_t>(host.bytes[2 * i] << 8 | host.bytes[2 * i + 1]);
    }
    const bool mapped = std::all_of(groups, groups + 5, [](std::uint16_t g) { return g == 0; }) &&
                        groups[5] == 0xFFFF;
    if (mapped) {
        return "::ffff:" + ipv4Text(host.bytes.data() + 12);
    }
    // The longest run of two or more zero groups, the first of equals, becomes "::".
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int length = 0;
        while (i + length < 8 && groups[i + length] == 0) {
            ++length;
        }
        if (length > bestLength) {
            bestStart = i;
            bestLength = length;
        }
        i += length == 0 ? 1 : length;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text.push_back(':');
        }
        std::string group;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (groups[i] >> shift) & 0xF;
            if (!group.empty() || digit != 0 || shift == 0) {
                group.push_back(digits[digit]);
            }
        }
        text += group;
    }
    return text;
}

}  // namespace pellvane::net
