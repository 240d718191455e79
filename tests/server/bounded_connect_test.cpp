// Connecting with a time limit: a listener that answers, a port nobody listens on, and a
// listener whose queue is full, which drops the handshake so the connect never completes.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/sockets.h"

namespace pellvane::net {
namespace {

struct SocketLibrary {
    SocketLibrary() { startSocketLibrary(); }
    ~SocketLibrary() { stopSocketLibrary(); }
};

class BoundedConnect : public ::testing::Test {
  protected:
    void TearDown() override {
        for (SocketHandle socket : sockets_) {
            closeSocket(socket);
        }
    }

    SocketHandle track(SocketHandle socket) {
        sockets_.push_back(socket);
        return socket;
    }

    std::uint16_t listenOnLoopback(int backlog) {
        const SocketHandle listener = track(openSocket(Family::ipv4, Transport::stream));
        std::uint16_t port = 0;
        int length = 0;
        EXPECT_TRUE(bindLoopback(listener, Family::ipv4, 0));
        EXPECT_TRUE(listenOn(listener, backlog));
        EXPECT_TRUE(boundPort(listener, port, length));
        return port;
    }

    SocketLibrary library_;
    std::vector<SocketHandle> sockets_;
};

using Clock = std::chrono::steady_clock;

TEST_F(BoundedConnect, ReachesAListenerAndLeavesTheSocketNonBlocking) {
    const std::uint16_t port = listenOnLoopback(4);
    const SocketHandle client = track(openSocket(Family::ipv4, Transport::stream));
    ASSERT_TRUE(connectWithin(client, Family::ipv4, "127.0.0.1", port, 2000));
    std::uint8_t byte = 0;
    EXPECT_EQ(receiveSome(client, &byte, 1), transferWouldBlock);
    EXPECT_TRUE(setNoDelay(client));  // a connected stream takes the option
}

// Connections that go quiet are probed, so that a vanished peer's connection ends.
TEST_F(BoundedConnect, AConnectionCanBeProbedWhenIdle) {
    const std::uint16_t port = listenOnLoopback(4);
    const SocketHandle client = track(openSocket(Family::ipv4, Transport::stream));
    ASSERT_TRUE(connectWithin(client, Family::ipv4, "127.0.0.1", port, 2000));
    EXPECT_TRUE(setKeepAlive(client, 30, 10, 3));
}

TEST_F(BoundedConnect, FailsAtOnceWhenNobodyListens) {
    const SocketHandle closed = openSocket(Family::ipv4, Transport::stream);
    std::uint16_t port = 0;
    int length = 0;
    ASSERT_TRUE(bindLoopback(closed, Family::ipv4, 0));
    ASSERT_TRUE(boundPort(closed, port, length));
    closeSocket(closed);

    const SocketHandle client = track(openSocket(Family::ipv4, Transport::stream));
    EXPECT_FALSE(connectWithin(client, Family::ipv4, "127.0.0.1", port, 5000));
}

TEST_F(BoundedConnect, GivesUpOnAHostThatDoesNotAnswer) {
    // With a backlog of 0 the queue takes one connection; later handshakes are dropped
    // unanswered, as a host that has gone away leaves them.
    const std::uint16_t port = listenOnLoopback(0);
    for (int i = 0; i < 3; ++i) {
        connectWithin(track(openSocket(Family::ipv4, Transport::stream)), Family::ipv4, "127.0.0.1",
                      port, 200);
    }
    const SocketHandle client = track(openSocket(Family::ipv4, Transport::stream));
    const auto started = Clock::now();
    EXPECT_FALSE(connectWithin(client, Family::ipv4, "127.0.0.1", port, 300));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
}

TEST_F(BoundedConnect, RefusesAnAddressThatIsNotNumeric) {
    const SocketHandle client = track(openSocket(Family::ipv4, Transport::stream));
    EXPECT_FALSE(connectWithin(client, Family::ipv4, "not-an-address", 1, 100));
}

}  // namespace
}  // namespace pellvane::net
