// As many clients as the server can watch, admitted at once, and what happens to more.
#include <vector>

#include "tests/load/load_fixture.h"

namespace pellvane::testing {
namespace {

constexpr int watchableClients = 59;  // 64 watched sockets less the five service sockets
constexpr int surplusClients = 11;    // the 60th to the 70th

TEST_F(LoadTest, FiftyNineClientsAdmittedAtOnceAndMoreAreClosedAtOnce) {
    startServer(delegate);

    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < watchableClients; ++i) {
        clients.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(clients.back()->connect(i % 2 == 0 ? net::Family::ipv4 : net::Family::ipv6,
                                            server->tcpPort()));
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

}  // namespace
}  // namespace pellvane::testing
