#include "tests/support/test_client.h"

#include <vector>

#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "tools/message_stream.h"

namespace pellvane::testing {
namespace {

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
    return net::connectTo(socket_, family, loopbackHost(family), port);
}

bool TestClient::connectFrom(const char* loopbackAddress, std::uint16_t port) {
    close();
    socket_ = net::openSocket(net::Family::ipv4, net::Transport::stream);
    return socket_ != net::invalidSocket &&
           net::bindAddress(socket_, net::Family::ipv4, loopbackAddress, 0) &&
           net::connectTo(socket_, net::Family::ipv4, loopbackHost(net::Family::ipv4), port);
}

void TestClient::close() {
    if (socket_ != net::invalidSocket) {
        net::closeSocket(socket_);
        socket_ = net::invalidSocket;
    }
    received_.clear();
}

bool TestClient::send(std::span<const std::uint8_t> bytes) {
    return net::sendAll(socket_, bytes.data(), bytes.size(), 3000);
}

bool TestClient::sendHello(std::string_view deviceName, std::uint32_t argument) {
    return send(wire::buildHello(deviceName, argument));
}

std::optional<ReceivedMessage> TestClient::readMessage(std::chrono::milliseconds timeout) {
    ReceivedMessage message;
    if (tool::readMessage(socket_, received_, message, static_cast<int>(timeout.count())) !=
        tool::ReadStatus::message) {
        return std::nullopt;
    }
    return message;
}

bool TestClient::waitForClose(std::chrono::milliseconds timeout) {
    std::uint8_t byte = 0;
    return received_.held() == 0 && waitReadable(socket_, static_cast<int>(timeout.count())) &&
           net::receiveSome(socket_, &byte, 1) <= 0;
}

bool TestClient::staysSilent(std::chrono::milliseconds timeout) {
    return received_.held() == 0 && !waitReadable(socket_, static_cast<int>(timeout.count()));
}

std::optional<std::uint16_t> TestClient::admit(std::string_view deviceName) {
    if (!sendHello(deviceName)) {
        return std::nullopt;
    }
    const auto reply = readMessage();
    const auto info =
        reply && reply->header.type == wire::HelloReply ? readMessage() : std::nullopt;
    if (!info || info->header.type != wire::UdpInfo) {
        return std::nullopt;
    }
    const std::optional<wire::UdpPorts> ports = wire::readUdpInfo(info->bytes);
    return ports ? std::optional<std::uint16_t>(ports->ipv4) : std::nullopt;
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
    return wire::buildMessage(type, argument, std::vector<std::uint8_t>(bodySize, fill));
}

ReceivedMessage received(const Message& message) {
    return {wire::readHeader(message).value_or(wire::MessageHeader{}), message};
}

wire::AppNameRecord named(std::string_view name, std::uint32_t processId) {
    wire::AppNameRecord record;
    record.setName(name);
    record.processId = processId;
    return record;
}

}  // namespace pellvane::testing
