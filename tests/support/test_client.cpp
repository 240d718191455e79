#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool waitReadable(net::SocketHandle socket, int timeoutMs) {
    net::ReadinessFlags flags[1];
    const net::SocketHandle sockets[1] = {socket};
    return net::waitForReadiness(sockets, flags, timeoutMs) > 0 && flags[0].readable;
}

}  // namespace

const char* loopbackHost(net::Family family) {
    return family == net::Family::ipv4 ? "127.0.0.1" : "::1";
}

TestClient::~TestClient() {
    close();
}

bool TestClient::connect(net::Family family, std::uint16_t port, int receiveBuffer) {
    close();
    socket_ = net::openSocket(family, net::Transport::stream);
    if (socket_ == net::invalidSocket) {
        return false;
    }
    if (receiveBuffer > 0) {
        net::setReceiveBufferSize(socket_, receiveBuffer);
    }
    peerClosed_ = false;
    return net::connectTo(socket_, family, loopbackHost(family), port);
}

void TestClient::close() {
    if (socket_ != net::invalidSocket) {
        net::closeSocket(socket_);
        socket_ = net::invalidSocket;
    }
}

bool TestClient::send(std::span<const std::uint8_t> bytes) {
    return net::sendAll(socket_, bytes.data(), bytes.size(), 3000);
}

bool TestClient::sendHello(std::string_view deviceName, std::uint32_t argument) {
    return send(wire::buildHello(deviceName, argument));
}

bool TestClient::receiveExactly(std::uint8_t* buffer, std::size_t length,
                                std::chrono::steady_clock::time_point deadline) {
    std::size_t done = 0;
    while (done < length) {
        if (!waitReadable(socket_, millisecondsUntil(deadline))) {
            return false;
        }
        const int received = net::receiveSome(socket_, buffer + done, length - done);
        if (received <= 0) {
            peerClosed_ = received == 0 || received == net::transferFailed;
            return false;
        }
        done += static_cast<std::size_t>(received);
    }
    return true;
}

std::optional<Message> TestClient::readMessage(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t header[wire::headerSize];
    if (!receiveExactly(header, sizeof header, deadline)) {
        return std::nullopt;
    }
    const std::uint32_t packetSize = wire::readU32(header, 0);
    if (!wire::isValidPacketSize(packetSize)) {
        return std::nullopt;
    }
    Message message(packetSize);
    std::copy(std::begin(header), std::end(header), message.begin());
    if (!receiveExactly(message.data() + wire::headerSize, packetSize - wire::headerSize,
                        deadline)) {
        return std::nullopt;
    }
    return message;
}

bool TestClient::waitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t byte = 0;
    while (waitReadable(socket_, millisecondsUntil(deadline))) {
        const int received = net::receiveSome(socket_, &byte, 1);
        if (received <= 0) {
            return true;
        }
        return false;  // data came instead
    }
    return false;
}

bool TestClient::staysSilent(std::chrono::milliseconds timeout) {
    return !waitReadable(socket_, static_cast<int>(timeout.count()));
}

std::optional<std::uint16_t> TestClient::admit(std::string_view deviceName) {
    if (!sendHello(deviceName)) {
        return std::nullopt;
    }
    auto reply = readMessage();
    if (!reply || wire::readU32(*reply, 4) != wire::HelloReply) {
        return std::nullopt;
    }
    auto info = readMessage();
    if (!info || wire::readU32(*info, 4) != wire::UdpInfo) {
        return std::nullopt;
    }
    const std::uint16_t networkPort = wire::readU16(*info, 14);
    return static_cast<std::uint16_t>((networkPort >> 8) | (networkPort << 8));
}

bool sendDatagram(net::Family family, std::uint16_t port, std::span<const std::uint8_t> bytes) {
    const net::SocketHandle socket = net::openSocket(family, net::Transport::datagram);
    if (socket == net::invalidSocket) {
        return false;
    }
    const int sent =
        net::sendDatagram(socket, family, loopbackHost(family), port, bytes.data(), bytes.size());
    net::closeSocket(socket);
    return sent == static_cast<int>(bytes.size());
}

Message makeMessage(std::uint32_t type, std::uint32_t argument, std::size_t bodySize,
                    std::uint8_t fill) {
    Message message(wire::headerSize + bodySize, fill);
    wire::writeHeader(message, {static_cast<std::uint32_t>(message.size()), type, argument});
    return message;
}

}  // namespace pellvane::testing
