// A small pad client for tests: connects over IPv4 or IPv6, says Hello, reads whole
// messages with a timeout, and sends messages and datagrams.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/sockets.h"
#include "server/frame_decoder.h"
#include "server/wire_protocol.h"

namespace pellvane::testing {

class TestClient {
  public:
    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // Connects a blocking socket; `receiveBuffer` > 0 shrinks the receive buffer first.
    bool connect(net::Family family, std::uint16_t port, int receiveBuffer = 0);
    // Connects over IPv4 from another loopback address ("127.0.0.2"): another host to the server.
    bool connectFrom(const char* loopbackAddress, std::uint16_t port);
    void close();
    net::SocketHandle socket() const { return socket_; }

    bool send(std::span<const std::uint8_t> bytes);
    bool sendHello(std::string_view deviceName, std::uint32_t argument = wire::helloArgument);

    // The next whole message, or nothing when none arrives in time or the peer closed.
    std::optional<ReceivedMessage> readMessage(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // True when the server closed the connection within the time (no message came first).
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // True when nothing at all arrives within the time.
    bool staysSilent(std::chrono::milliseconds timeout = std::chrono::milliseconds(300));

    // Hello, then HelloReply and UdpInfo; the UdpInfo's IPv4 port, or nothing.
    std::optional<std::uint16_t> admit(std::string_view deviceName = "Test pad");

  private:
    net::SocketHandle socket_ = net::invalidSocket;
    FrameDecoder received_;
};

// Sends one datagram from a fresh socket on the loopback address of the family.
bool sendDatagram(net::Family family, std::uint16_t port, std::span<const std::uint8_t> bytes);

// A message of `type` with a body of `bodySize` bytes (filled with `fill`).
Message makeMessage(std::uint32_t type, std::uint32_t argument, std::size_t bodySize,
                    std::uint8_t fill = 0);
// The message as a server hands it on: header decoded, bytes kept.
ReceivedMessage received(const Message& message);
// An application's record as the server lists or names it.
wire::AppNameRecord named(std::string_view name, std::uint32_t processId = 1);

const char* loopbackHost(net::Family family);

}  // namespace pellvane::testing
