// A started pad service on loopback with a recording delegate, for the load tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "server/dnssd_binding.h"
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

    // Polls until the condition holds or `limit` passes.
    template <class Condition>
    static bool eventually(Condition condition,
                           std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return testing::eventually(condition, limit);
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

// A message of `type` whose body starts with `tag`, so a test can tell messages apart.
inline Message taggedMessage(std::uint32_t type, std::uint32_t tag, std::size_t bodySize = 8) {
    Message message = makeMessage(type, 0, bodySize < 4 ? 4 : bodySize);
    wire::writeU32(message, 12, tag);
    return message;
}

}  // namespace pellvane::testing
