// As many clients as the server can watch, admitted at once, and what happens to more.
#include <string>
#include <vector>

#include "tests/load/load_fixture.h"

namespace pellvane::testing {
namespace {

constexpr int watchableClients = 59;  // 64 watched sockets less the five service sockets
constexpr int surplusClients = 11;    // the 60th to the 70th
constexpr int hostsUsed = 8;          // at most 8 connections of one host wait for admission

// Client `i` of many, as one of eight hosts: 127.0.0.1 to 127.0.0.8.
std::string hostAddress(int i) {
    return "127.0.0." + std::to_string(1 + i % hostsUsed);
}

TEST_F(LoadTest, FiftyNineClientsAdmittedAtOnceAndMoreAreClosedAtOnce) {
    startServer(delegate);

    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < watchableClients; ++i) {
        clients.push_back(std::make_unique<TestClient>());
        // A few over IPv6 (all from ::1), the rest from eight IPv4 hosts.
        ASSERT_TRUE(i < hostsUsed
                        ? clients.back()->connect(net::Family::ipv6, server->tcpPort())
                        : clients.back()->connectFrom(hostAddress(i).c_str(), server->tcpPort()));
    }
    // Every Hello is out before any answer is read.
    for (auto& client : clients) {
        ASSERT_TRUE(client->sendHello("pad"));
    }
    for (auto& client : clients) {
        const auto reply = client->readMessage();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.type, wire::HelloReply);
        const auto info = client->readMessage();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->header.type, wire::UdpInfo);
    }
    EXPECT_EQ(delegate.count("admit"), watchableClients);
    EXPECT_EQ(server->watchedCount(), serviceSockets + watchableClients);

    std::vector<std::unique_ptr<TestClient>> surplus;
    for (int i = 0; i < surplusClients; ++i) {
        surplus.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(surplus.back()->connect(net::Family::ipv4, server->tcpPort()));
    }
    for (auto& client : surplus) {
        client->sendHello("one too many");  // may already fail: the server has closed it
        EXPECT_TRUE(client->waitForClose()) << "a surplus connection was kept";
    }
    EXPECT_EQ(delegate.count("ask"), watchableClients);
    EXPECT_EQ(server->watchedCount(), serviceSockets + watchableClients);
    EXPECT_EQ(server->pendingCount(), 0u);

    // Everyone admitted is still served.
    const Message appName = wire::buildAppName(named("editor"));
    EXPECT_EQ(server->broadcast(appName), static_cast<int>(appName.size()));
    for (auto& client : clients) {
        const auto message = client->readMessage();
        ASSERT_TRUE(message);
        EXPECT_EQ(message->bytes, appName);
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(clients.size()); ++i) {
        ASSERT_TRUE(clients[i]->send(taggedMessage(wire::ChannelEvent, {i})));
    }
    ASSERT_TRUE(delegate.waitFor("message:7", watchableClients));

    // A place that frees up can be taken again.
    clients.front()->close();
    ASSERT_TRUE(
        eventually([&] { return server->watchedCount() < serviceSockets + watchableClients; }));
    auto late = admittedClient();
    EXPECT_EQ(server->watchedCount(), serviceSockets + watchableClients);
}

// Connections that never say anything must not lock a device out: when every place is taken,
// the one waiting longest gives way; one host cannot hold more than eight of them.
TEST_F(LoadTest, IdleConnectionsGiveWayToADevice) {
    startServer(delegate);
    std::vector<std::unique_ptr<TestClient>> idle;
    for (int i = 0; i < watchableClients; ++i) {
        idle.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(
            idle.back()->connectFrom(hostAddress(i / hostsUsed).c_str(), server->tcpPort()));
        // In order: the first one is the oldest.
        ASSERT_TRUE(eventually([&] { return server->pendingCount() == idle.size(); }));
    }
    TestClient ninthOfOneHost;
    ASSERT_TRUE(ninthOfOneHost.connectFrom(hostAddress(0).c_str(), server->tcpPort()));
    EXPECT_TRUE(ninthOfOneHost.waitForClose());

    TestClient device;
    ASSERT_TRUE(device.connectFrom("127.0.0.9", server->tcpPort()));
    EXPECT_TRUE(device.admit());
    EXPECT_TRUE(idle.front()->waitForClose());
    EXPECT_TRUE(idle.back()->staysSilent());
    EXPECT_EQ(server->pendingCount(), static_cast<std::uint32_t>(watchableClients - 1));
}

}  // namespace
}  // namespace pellvane::testing
