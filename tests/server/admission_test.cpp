// Admission of pad and channel clients through Hello, HelloReply, UdpInfo and Refusal,
// over IPv4 and IPv6.
#include <gtest/gtest.h>

#include <string>

#include "tests/server/server_fixture.h"

namespace pellvane::testing {
namespace {

std::uint32_t typeOf(const Message& message) {
    return wire::readU32(message, 4);
}

std::vector<wire::AppNameRecord> someApplications(std::size_t count) {
    std::vector<wire::AppNameRecord> apps(count);
    for (std::size_t i = 0; i < count; ++i) {
        apps[i].setName("application" + std::to_string(i));
        apps[i].processId = static_cast<std::uint32_t>(4000 + i);
    }
    return apps;
}

TEST_P(FamilyTest, AdmittedPadClientGetsReplyThenUdpInfo) {
    delegate.setApplications(someApplications(2));
    startServer();
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->sendHello("Phone"));

    auto reply = client->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(typeOf(*reply), wire::HelloReply);
    EXPECT_EQ(reply->size(), 144u + 2 * 132u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*reply)[12])), "TestHost");
    EXPECT_EQ(wire::readHelloReplyApps(*reply), someApplications(2));

    auto info = client->readMessage();
    ASSERT_TRUE(info);
    ASSERT_EQ(info->size(), 56u);
    EXPECT_EQ(typeOf(*info), wire::UdpInfo);
    const std::uint16_t port4 = static_cast<std::uint16_t>(((*info)[14] << 8) | (*info)[15]);
    const std::uint16_t port6 = static_cast<std::uint16_t>(((*info)[30] << 8) | (*info)[31]);
    EXPECT_EQ(port4, server->udpPort4());
    EXPECT_EQ(port6, server->udpPort6());

    // The delegate was asked, listed the applications, and heard of the admission, in order.
    const auto calls = delegate.calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 1, calls.begin() + 4),
              (std::vector<std::string>{"ask", "list", "admit"}));
    EXPECT_EQ(server->pendingCount(), 0u);
    EXPECT_EQ(debugLines.count("UDP Channel opened to client\n"), 1);
}

TEST_P(FamilyTest, HelloWithAnotherArgumentIsRefusedAndClosed) {
    startServer();
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->sendHello("Phone", 127));
    auto refusal = client->readMessage();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->size(), 144u);
    EXPECT_EQ(typeOf(*refusal), wire::Refusal);
    EXPECT_EQ(wire::readU32(*refusal, 140), 0u);
    EXPECT_TRUE(client->waitForClose());
    EXPECT_EQ(delegate.count("ask"), 0);
}

TEST_P(FamilyTest, DeclinedHelloIsRefusedAndClosed) {
    delegate.setAdmitAnswer(0);
    startServer();
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->sendHello("Phone"));
    auto refusal = client->readMessage();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(typeOf(*refusal), wire::Refusal);
    EXPECT_TRUE(client->waitForClose());
    EXPECT_EQ(delegate.count("admit"), 0);
    EXPECT_EQ(delegate.count("list"), 0);
}

TEST_P(FamilyTest, PendingClientThatSendsAReplyStaysPendingUntilItSaysHello) {
    startServer();
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->send(wire::buildHelloReply("x", nullptr)));
    EXPECT_TRUE(client->staysSilent());
    EXPECT_EQ(server->pendingCount(), 1u);
    EXPECT_TRUE(client->admit());
    EXPECT_EQ(server->pendingCount(), 0u);
}

TEST_P(FamilyTest, PendingClientWhoseFirstMessageIsAKeyIsClosedWithoutReply) {
    startServer();
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->send(makeMessage(wire::KeyDown, 1, 12)));
    EXPECT_TRUE(client->waitForClose());
    EXPECT_EQ(delegate.count("message:5"), 0);
    EXPECT_TRUE(eventually([&] { return server->watchedCount() == 5u; }));
}

TEST_P(FamilyTest, ChannelServiceAdmitsOnAnyFirstMessageAndHandsItOn) {
    startServer(/*autoAdmit=*/true);
    auto client = connectClient(GetParam());
    const Message event = makeMessage(wire::ChannelEvent, 0, 20, 0xAB);
    ASSERT_TRUE(client->send(event));

    auto reply = client->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(typeOf(*reply), wire::HelloReply);
    EXPECT_EQ(reply->size(), 144u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*reply)[12])), "TestHost");
    auto info = client->readMessage();
    ASSERT_TRUE(info);
    EXPECT_EQ(typeOf(*info), wire::UdpInfo);

    ASSERT_TRUE(delegate.waitFor("message:7"));
    EXPECT_EQ(delegate.messages().front(), event);
    EXPECT_EQ(delegate.count("ask"), 0);
}

TEST_P(FamilyTest, ChannelServiceAdmitsAHelloWithAnyArgument) {
    startServer(/*autoAdmit=*/true);
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->sendHello("Tool", 127));
    auto reply = client->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(typeOf(*reply), wire::HelloReply);
}

TEST_P(FamilyTest, AdmittedClientMessagesReachTheDelegateButUdpInfoDoesNot) {
    startServer();
    auto client = admittedClient(GetParam());
    ASSERT_TRUE(client->send(wire::buildUdpInfo(1, 2)));
    const Message keys = makeMessage(wire::KeyDown, 1, 12, 0x11);
    ASSERT_TRUE(client->send(keys));
    ASSERT_TRUE(delegate.waitFor("message:5"));
    EXPECT_EQ(delegate.count("message:9"), 0);
    EXPECT_EQ(debugLines.count("UDP Info received!\n"), 1);
    EXPECT_EQ(delegate.messages().back(), keys);
}

TEST_P(FamilyTest, ClosingClientIsDroppedFromBothSets) {
    startServer();
    auto admitted = admittedClient(GetParam());
    auto pending = connectClient(GetParam());
    ASSERT_TRUE(eventually([&] { return server->watchedCount() == 7u; }));
    admitted->close();
    pending->close();
    EXPECT_TRUE(eventually([&] { return server->watchedCount() == 5u; }));
    EXPECT_EQ(server->pendingCount(), 0u);
    EXPECT_EQ(debugLines.count("Client gracefully closed connection\n"), 2);
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, FamilyTest,
                         ::testing::Values(net::Family::ipv4, net::Family::ipv6), familyName);

TEST_F(ServerTest, LongServiceNameIsCutInTheReply) {
    const std::string longName(200, 'h');
    startServer(false, longName.c_str());
    auto client = connectClient();
    ASSERT_TRUE(client->sendHello("Phone"));
    auto reply = client->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*reply)[12])), longName.substr(0, 127));
    EXPECT_EQ((*reply)[12 + 127], 0);
}

TEST_F(ServerTest, LargestReplyReachesASlowReaderWhole) {
    delegate.setApplications(someApplications(300));
    startServer();
    TestClient client;
    ASSERT_TRUE(client.connect(net::Family::ipv4, server->tcpPort(), /*receiveBuffer=*/2048));
    ASSERT_TRUE(client.sendHello("Slow phone"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the server's send block

    auto reply = client.readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 32880u);
    EXPECT_EQ(wire::readU32(*reply, 8), 32868u);
    EXPECT_EQ(wire::readU32(*reply, 140), 248u);
    const auto apps = wire::readHelloReplyApps(*reply);
    ASSERT_EQ(apps.size(), 248u);
    EXPECT_EQ(apps.back(), someApplications(248).back());
    auto info = client.readMessage();
    ASSERT_TRUE(info);
    EXPECT_EQ(typeOf(*info), wire::UdpInfo);
}

}  // namespace
}  // namespace pellvane::testing
