// How a TCP byte stream and UDP datagrams become messages, and what is lost when they are
// malformed: a framing fault loses the message, never the connection.
#include <gtest/gtest.h>

#include "tests/server/server_fixture.h"

namespace pellvane::testing {
namespace {

class FramingTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        startServer();
        client = admittedClient();
    }

    std::unique_ptr<TestClient> client;
};

TEST_F(FramingTest, ShortHeaderIsDroppedAndTheNextBytesStartAFreshHeader) {
    const Message garbage(8, 0x33);
    ASSERT_TRUE(client->send(garbage));
    ASSERT_TRUE(eventually(
        [&] { return debugLines.contains("packetSize < headerSize || packetSize > MAXUINT16"); }));
    const Message keys = makeMessage(wire::KeyDown, 1, 12, 0x44);
    ASSERT_TRUE(client->send(keys));
    ASSERT_TRUE(delegate.waitFor("message:5"));
    EXPECT_EQ(delegate.messages().back(), keys);
}

TEST_F(FramingTest, OversizedPacketLosesOnlyItsHeader) {
    Message stream(12, 0);
    wire::writeHeader(stream, {70000, wire::KeyDown, 1});
    const Message inner = makeMessage(wire::KeyUp, 0, 0);  // read as the next header
    stream.insert(stream.end(), inner.begin(), inner.end());
    ASSERT_TRUE(client->send(stream));
    ASSERT_TRUE(delegate.waitFor("message:6"));
    EXPECT_EQ(delegate.count("message:5"), 0);
    EXPECT_EQ(delegate.messages().back(), inner);
}

TEST_F(FramingTest, LargeBodyInOneWriteArrivesWhole) {
    const Message big = makeMessage(wire::GamepadEvent, 0, 60000, 0x5A);
    ASSERT_TRUE(client->send(big));
    ASSERT_TRUE(delegate.waitFor("message:8"));
    EXPECT_EQ(delegate.messages().back(), big);
}

TEST_F(FramingTest, BodyThatArrivesLateIsLostAndItsBytesAreReadAsHeaders) {
    Message header(12, 0);
    wire::writeHeader(header, {24, wire::KeyDown, 1});
    ASSERT_TRUE(client->send(header));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Message late = makeMessage(wire::KeyUp, 0, 0);
    ASSERT_TRUE(client->send(late));
    ASSERT_TRUE(delegate.waitFor("message:6"));
    EXPECT_EQ(delegate.count("message:5"), 0);
}

TEST_F(FramingTest, DatagramsMustHoldExactlyOneMessage) {
    const std::uint16_t port = server->udpPort4();
    Message eleven(11, 0);
    wire::writeU32(eleven, 0, 11);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, eleven));
    Message wrongSize = makeMessage(wire::KeyDown, 0, 8);
    wire::writeU32(wrongSize, 0, 24);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, wrongSize));
    const Message good = makeMessage(wire::KeyDown, 0, 8, 0x21);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, good));

    ASSERT_TRUE(delegate.waitFor("message:5"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(delegate.count("message:5"), 1);
    EXPECT_EQ(delegate.messages().back(), good);
}

TEST_F(FramingTest, UdpInfoAsADatagramGoesToTheDelegate) {
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(), wire::buildUdpInfo(1, 2)));
    EXPECT_TRUE(delegate.waitFor("message:9"));
}

// The pad service takes datagrams only from hosts that the local user admitted.
TEST_F(ServerTest, PadDatagramsAreTakenOnlyFromAdmittedHosts) {
    startServer();
    const Message keys = makeMessage(wire::KeyDown, 0, 12, 0x66);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(), keys));
    auto pending = connectClient();
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(), keys));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(delegate.count("message:5"), 0);

    auto admitted = admittedClient(net::Family::ipv4);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(), keys));
    ASSERT_TRUE(delegate.waitFor("message:5"));

    // ::1 is another address than 127.0.0.1.
    ASSERT_TRUE(sendDatagram(net::Family::ipv6, server->udpPort6(), keys));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(delegate.count("message:5"), 1);

    admitted->close();
    ASSERT_TRUE(eventually([&] { return server->watchedCount() == 6u; }));
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(), keys));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(delegate.count("message:5"), 1);
}

TEST_F(ServerTest, PadDatagramsOverIpv6FromAnAdmittedIpv6Host) {
    startServer();
    auto admitted = admittedClient(net::Family::ipv6);
    ASSERT_TRUE(
        sendDatagram(net::Family::ipv6, server->udpPort6(), makeMessage(wire::KeyUp, 0, 0)));
    EXPECT_TRUE(delegate.waitFor("message:6"));
}

TEST_F(ServerTest, ChannelDatagramsAreTakenFromAnySender) {
    startServer(/*autoAdmit=*/true);
    const Message event = makeMessage(wire::ChannelEvent, 0, 4, 0x77);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(), event));
    ASSERT_TRUE(sendDatagram(net::Family::ipv6, server->udpPort6(), event));
    ASSERT_TRUE(delegate.waitFor("message:7", 2));
    EXPECT_EQ(delegate.messages().front(), event);
}

}  // namespace
}  // namespace pellvane::testing
