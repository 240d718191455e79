// Waiting for readiness over as many sockets as a full server watches, and more.
#include <gtest/gtest.h>

#include <vector>

#include "platform/sockets.h"

namespace pellvane::net {
namespace {

struct SocketLibrary {
    SocketLibrary() { startSocketLibrary(); }
    ~SocketLibrary() { stopSocketLibrary(); }
};

// A full server waits on 64 watched sockets and its waker: the last one must count too.
TEST(Readiness, TheLastOfSeventySocketsIsSeen) {
    SocketLibrary library;
    std::vector<SocketHandle> sockets;
    std::uint16_t lastPort = 0;
    for (int i = 0; i < 70; ++i) {
        const SocketHandle socket = openSocket(Family::ipv4, Transport::datagram);
        ASSERT_NE(socket, invalidSocket);
        int length = 0;
        ASSERT_TRUE(bindLoopback(socket, Family::ipv4, 0));
        ASSERT_TRUE(boundPort(socket, lastPort, length));
        sockets.push_back(socket);
    }
    const std::uint8_t byte = 7;
    ASSERT_EQ(sendDatagram(sockets.front(), Family::ipv4, "127.0.0.1", lastPort, &byte, 1), 1);

    std::vector<ReadinessFlags> flags(sockets.size());
    EXPECT_EQ(waitForReadiness(sockets, flags, 2000), 1);
    EXPECT_TRUE(flags.back().readable);
    for (std::size_t i = 0; i + 1 < flags.size(); ++i) {
        EXPECT_FALSE(flags[i].readable) << i;
    }
    for (SocketHandle socket : sockets) {
        closeSocket(socket);
    }
}

}  // namespace
}  // namespace pellvane::net
