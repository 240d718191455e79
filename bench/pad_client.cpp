#include "bench/pad_client.h"

#include <algorithm>

namespace pellvane::bench {
namespace {

constexpr int admissionTimeoutMs = 3000;

bool waitReadable(net::SocketHandle socket, int timeoutMs) {
    const net::SocketHandle sockets[] = {socket};
    net::ReadinessFlags flags[1];
    return net::waitForReadiness(sockets, flags, timeoutMs) > 0 && flags[0].readable;
}

bool receiveExactly(net::SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                    int timeoutMs) {
    std::size_t done = 0;
    while (done < length) {
        if (!waitReadable(socket, timeoutMs)) {
            return false;
        }
        const int received = net::receiveSome(socket, buffer + done, length - done);
        if (received <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(received);
    }
    return true;
}

bool receiveType(net::SocketHandle socket, std::uint32_t type) {
    const auto message = receiveMessage(socket, admissionTimeoutMs);
    return message && wire::readU32(*message, 4) == type;
}

}  // namespace

net::SocketHandle connectLoopback(std::uint16_t port) {
    const net::SocketHandle socket = net::openSocket(net::Family::ipv4, net::Transport::stream);
    if (socket != net::invalidSocket &&
        !net::connectTo(socket, net::Family::ipv4, "127.0.0.1", port)) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

std::optional<Message> receiveMessage(net::SocketHandle socket, int timeoutMs) {
    std::uint8_t header[wire::headerSize];
    if (!receiveExactly(socket, header, sizeof header, timeoutMs)) {
        return std::nullopt;
    }
    const std::uint32_t size = wire::readU32(header, 0);
    if (!wire::isValidPacketSize(size)) {
        return std::nullopt;
    }
    Message message(size);
    std::copy(std::begin(header), std::end(header), message.begin());
    if (!receiveExactly(socket, message.data() + wire::headerSize, size - wire::headerSize,
                        timeoutMs)) {
        return std::nullopt;
    }
    return message;
}

net::SocketHandle admitPadClient(std::uint16_t port) {
    const net::SocketHandle socket = connectLoopback(port);
    if (socket == net::invalidSocket) {
        return socket;
    }
    const Message hello = wire::buildHello("Bench pad");
    if (!net::sendAll(socket, hello.data(), hello.size(), admissionTimeoutMs) ||
        !receiveType(socket, wire::HelloReply) || !receiveType(socket, wire::UdpInfo)) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

}  // namespace pellvane::bench
