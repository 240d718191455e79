// A started pad service on loopback with a recording delegate, for the load tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>
#include <thread>

#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/wire_cursor.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"
#include "tests/support/eventually.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {

class LoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        net::startSocketLibrary();
        dnssd::loadLibrary(PELLVANE_FAKE_DNSSD);
    }

    void TearDown() override {
        if (server) {
            server->shutDown();
        }
        dnssd::unloadLibrary();
        net::stopSocketLibrary();
    }

    void startServer(ZarvoConnectionDelegate& delegate) {
        server = std::make_unique<ZarvoServer>("LoadHost", "_kesp._tcp", "");
        server->setDelegate(&delegate);
        ASSERT_NE(server->start(), ZarvoServer::startFailed);
    }

    std::unique_ptr<TestClient> admittedClient(net::Family family = net::Family::ipv4) {
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->connect(family, server->tcpPort()));
        EXPECT_TRUE(client->admit());
        return client;
    }

    // Sockets the server always watches: DNS-SD, two listeners, two datagram sockets.
    static constexpr std::uint32_t serviceSockets = ZarvoServer::serviceSocketCount;

    // Declared before the server: TearDown stops the server while the delegate still lives.
    RecordingDelegate delegate;
    std::unique_ptr<ZarvoServer> server;
};

// Whether a datagram socket bound to 127.0.0.2 really sends from that address. Wine binds
// such a socket to the wildcard address instead, so its datagrams leave from 127.0.0.1.
inline bool secondLoopbackSourceWorks() {
    const net::SocketHandle receiver = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    const net::SocketHandle sender = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    std::uint16_t port = 0;
    int length = 0;
    bool works = false;
    if (net::bindLoopback(receiver, net::Family::ipv4, 0) &&
        net::boundPort(receiver, port, length) &&
        net::bindAddress(sender, net::Family::ipv4, "127.0.0.2", 0)) {
        const std::uint8_t byte = 1;
        net::sendDatagram(sender, net::Family::ipv4, "127.0.0.1", port, &byte, 1);
        net::ReadinessFlags flags[1];
        const net::SocketHandle sockets[1] = {receiver};
        std::uint8_t received = 0;
        net::DatagramSource source;
        works = net::waitForReadiness(sockets, flags, 1000) > 0 &&
                net::receiveDatagram(receiver, &received, 1, source) == 1 &&
                source.host.bytes[0] == 127 && source.host.bytes[3] == 2;
    }
    net::closeSocket(sender);
    net::closeSocket(receiver);
    return works;
}

// A message of `type` whose body starts with the words of `tags` (little-endian), so a test
// can tell messages apart; the rest of the body is 0xA5.
inline Message taggedMessage(std::uint32_t type, std::initializer_list<std::uint32_t> tags,
                             std::size_t bodySize = 8) {
    Message message = makeMessage(type, 0, std::max(bodySize, 4 * tags.size()), 0xA5);
    wire::Writer writer(message, wire::headerSize);
    for (std::uint32_t tag : tags) {
        writer.u32(tag);
    }
    return message;
}

// Word `index` of the message's body, if the body holds it.
inline std::optional<std::uint32_t> tagOf(const ReceivedMessage& message, std::size_t index = 0) {
    wire::Reader reader(message.bytes, wire::headerSize + 4 * index);
    std::uint32_t tag = 0;
    return reader.u32(tag) ? std::optional(tag) : std::nullopt;
}

}  // namespace pellvane::testing
