// How a TCP byte stream and UDP datagrams become messages, and what is lost when they are
// malformed: a framing fault loses the message, never the connection.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "server/wire_building.h"
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

// A Hello and a KeyDown, each written in three pieces 20 ms apart (the header itself cut in
// two), are each handled once, whole, and in order.
TEST_P(FamilyTest, MessagesWrittenInPiecesAreHandledOnceAndInOrder) {
    startServer();
    TestClient client;
    ASSERT_TRUE(client.connect(GetParam(), server->tcpPort()));
    const Message hello = wire::buildHello("Split pad");
    const Message keys = makeMessage(wire::KeyDown, 1, 12, 0x44);
    for (const Message* message : {&hello, &keys}) {
        // Five bytes of the header, then the rest of it with part of the body, then the rest.
        const std::size_t cuts[] = {0, 5, 14, message->size()};
        for (std::size_t piece = 0; piece < 3; ++piece) {
            const auto bytes =
                std::span(*message).subspan(cuts[piece], cuts[piece + 1] - cuts[piece]);
            ASSERT_TRUE(client.send(bytes));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (message == &hello) {
            ASSERT_EQ(client.readMessage()->header.type, wire::HelloReply);
            ASSERT_EQ(client.readMessage()->header.type, wire::UdpInfo);
        }
    }
    ASSERT_TRUE(delegate.waitFor("message:5"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(delegate.calls(),
              (std::vector<std::string>{"publish", "ask", "list", "admit", "message:5"}));
    EXPECT_EQ(delegate.messages(), std::vector{received(keys)});
    EXPECT_FALSE(debugLines.contains("packetSize < headerSize || packetSize > MAXUINT16"));
}

TEST_F(FramingTest, OversizedPacketLosesOnlyItsHeader) {
    Message stream(12, 0);
    wire::writeHeader(stream, {70000, wire::KeyDown, 1});
    const Message inner = makeMessage(wire::KeyUp, 0, 0);  // read as the next header
    stream.insert(stream.end(), inner.begin(), inner.end());
    ASSERT_TRUE(client->send(stream));
    ASSERT_TRUE(delegate.waitFor("message:6"));
    EXPECT_EQ(delegate.count("message:5"), 0);
    EXPECT_EQ(delegate.messages().back(), received(inner));
    EXPECT_TRUE(debugLines.contains("packetSize < headerSize || packetSize > MAXUINT16"));
}

TEST_F(FramingTest, LargeBodyInOneWriteArrivesWhole) {
    const Message big = makeMessage(wire::GamepadEvent, 0, 60000, 0x5A);
    ASSERT_TRUE(client->send(big));
    ASSERT_TRUE(delegate.waitFor("message:8"));
    EXPECT_EQ(delegate.messages().back(), received(big));
}

// A body that comes long after its header, and several messages in one write, all count.
TEST_F(FramingTest, LateBodiesWaitAndMessagesSharingAWriteAreAllTaken) {
    const Message keys = makeMessage(wire::KeyDown, 1, 12, 0x44);
    ASSERT_TRUE(client->send(std::span(keys).first(12)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Message rest(keys.begin() + 12, keys.end());
    const Message release = makeMessage(wire::KeyUp, 0, 0);
    rest.insert(rest.end(), release.begin(), release.end());
    rest.insert(rest.end(), keys.begin(), keys.end());
    ASSERT_TRUE(client->send(rest));
    ASSERT_TRUE(delegate.waitFor("message:5", 2));
    EXPECT_EQ(delegate.messages(),
              (std::vector{received(keys), received(release), received(keys)}));
}

// More than a pass takes from one source, in one write over TCP and in one burst of datagrams:
// the rest waits in the stream or the socket and comes in the following passes, in order, with
// no new readiness needed.
TEST_F(FramingTest, MoreThanAPassTakesArrivesWholeAndInOrder) {
    constexpr std::uint32_t streamed = 3000;
    constexpr std::uint32_t datagrams = 200;
    Message stream;
    for (std::uint32_t i = 0; i < streamed; ++i) {
        const Message message = makeMessage(wire::GamepadEvent, i, 0);  // the argument numbers it
        stream.insert(stream.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(client->send(stream));
    ASSERT_TRUE(delegate.waitFor("message:8", streamed));
    for (std::uint32_t i = 0; i < datagrams; ++i) {
        ASSERT_TRUE(sendDatagram(net::Family::ipv4, server->udpPort4(),
                                 makeMessage(wire::ChannelEvent, i, 0)));
    }
    ASSERT_TRUE(delegate.waitFor("message:7", datagrams));
    const auto messages = delegate.messages();
    ASSERT_EQ(messages.size(), streamed + datagrams);
    for (std::uint32_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].header.argument, i < streamed ? i : i - streamed) << i;
    }
}

// Datagrams that queued while the loop was busy are all taken in the pass that follows, before
// a connection that became readable after them: one datagram a pass left a busy pad's events
// waiting in the socket until it overflowed.
TEST_F(FramingTest, DatagramsQueuedWhileTheLoopWasBusyAreTakenInOnePass) {
    // The loop thread calls the hook for the last message after the test has seen it, so
    // the hook owns what it touches: on this test's stack it wrote into a later frame.
    struct Hold {
        std::atomic<bool> holding{true};
        std::atomic<bool> released{false};
    };
    const auto hold = std::make_shared<Hold>();
    delegate.setOnMessage([hold] {
        if (hold->holding.exchange(false)) {
            eventually([&] { return hold->released.load(); }, std::chrono::seconds(10));
        }
    });
    const std::uint16_t port = server->udpPort4();
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, makeMessage(wire::ChannelEvent, 0, 0)));
    ASSERT_TRUE(delegate.waitFor("message:7"));  // the loop is held inside its delegate
    constexpr std::uint32_t queued = 100;
    for (std::uint32_t i = 1; i <= queued; ++i) {
        ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, makeMessage(wire::ChannelEvent, i, 0)));
    }
    ASSERT_TRUE(client->send(makeMessage(wire::KeyUp, 0, 0)));
    hold->released = true;
    ASSERT_TRUE(delegate.waitFor("message:6"));
    const auto messages = delegate.messages();
    ASSERT_EQ(messages.size(), queued + 2);
    for (std::uint32_t i = 0; i <= queued; ++i) {
        EXPECT_EQ(messages[i].header.argument, i);
    }
    EXPECT_EQ(messages.back().header.type, wire::KeyUp);
}

TEST_F(FramingTest, DatagramsMustHoldExactlyOneMessage) {
    const std::uint16_t port = server->udpPort4();
    Message eleven(11, 0);
    eleven[0] = 11;
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, eleven));
    Message wrongSize = makeMessage(wire::KeyDown, 0, 8);
    wire::writeHeader(wrongSize, {24, wire::KeyDown, 0});
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, wrongSize));
    const Message good = makeMessage(wire::KeyDown, 0, 8, 0x21);
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, port, good));

    ASSERT_TRUE(delegate.waitFor("message:5"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(delegate.count("message:5"), 1);
    EXPECT_EQ(delegate.messages().back(), received(good));
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
    EXPECT_EQ(delegate.messages().front(), received(event));
}

}  // namespace
}  // namespace pellvane::testing
