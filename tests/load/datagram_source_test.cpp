// Datagrams count only from the address of an admitted client.
#include "tests/load/load_fixture.h"

namespace pellvane::testing {
namespace {

constexpr int foreignDatagrams = 200;

TEST_F(LoadTest, DatagramsFromAHostThatWasNeverAdmittedInjectNothing) {
    if (!secondLoopbackSourceWorks()) {
        GTEST_SKIP() << "datagrams cannot be sent from 127.0.0.2 here";
    }
    startServer(delegate);
    auto client = admittedClient(net::Family::ipv4);  // admitted from 127.0.0.1

    const net::SocketHandle foreign = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    ASSERT_NE(foreign, net::invalidSocket);
    ASSERT_TRUE(net::bindAddress(foreign, net::Family::ipv4, "127.0.0.2", 0));
    for (std::uint32_t i = 0; i < foreignDatagrams; ++i) {
        const Message keyDown =
            taggedMessage(i % 2 == 0 ? wire::KeyDown : wire::GamepadEvent, {i}, 12);
        EXPECT_EQ(net::sendDatagram(foreign, net::Family::ipv4, "127.0.0.1", server->udpPort4(),
                                    keyDown.data(), keyDown.size()),
                  static_cast<int>(keyDown.size()));
        if (i % 16 == 15) {
            // Paced, so that the server's receive buffer never overflows and drops ours.
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    }
    net::closeSocket(foreign);

    // The same datagram from the admitted host is taken; it queued behind the foreign ones.
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(),
                             taggedMessage(wire::KeyUp, {0xAD}, 12)));
    ASSERT_TRUE(delegate.waitFor("message:6"));
    const auto messages = delegate.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(tagOf(messages[0]), 0xADu);
}

TEST_F(LoadTest, DatagramsFromTheAdmittedHostOverIpv6AreTaken) {
    startServer(delegate);
    auto client = admittedClient(net::Family::ipv6);
    ASSERT_TRUE(sendDatagram(net::Family::ipv6, server->udpPort6(),
                             taggedMessage(wire::GamepadEvent, {6}, 20)));
    EXPECT_TRUE(delegate.waitFor("message:8"));
    // An IPv4 sender is another host as far as the admitted IPv6 peer goes.
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(),
                             taggedMessage(wire::GamepadEvent, {4}, 20)));
    ASSERT_TRUE(sendDatagram(net::Family::ipv6, server->udpPort6(),
                             taggedMessage(wire::KeyDown, {66}, 12)));
    ASSERT_TRUE(delegate.waitFor("message:5"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(delegate.count("message:8"), 1);
}

}  // namespace
}  // namespace pellvane::testing
