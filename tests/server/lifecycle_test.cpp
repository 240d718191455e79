// Starting, stopping and restarting a server, and what each leaves in its fields.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "tests/server/server_fixture.h"
#include "tests/support/environment.h"

namespace pellvane::testing {
namespace {

TEST_F(ServerTest, StartedServerListensOnOnePortForBothFamilies) {
    startServer();
    const std::uint16_t port = server->tcpPort();
    EXPECT_NE(port, 0);
    EXPECT_NE(server->udpPort4(), 0);
    EXPECT_EQ(server->udpPort6(), server->udpPort4());
    EXPECT_EQ(server->watchedCount(), ZarvoServer::serviceSocketCount);
    EXPECT_TRUE(debugLines.contains("UDP sockets created!\n"));
    EXPECT_TRUE(debugLines.contains("Service did publish\n"));

    TestClient over4;
    TestClient over6;
    EXPECT_TRUE(over4.connect(net::Family::ipv4, port));
    EXPECT_TRUE(over6.connect(net::Family::ipv6, port));
}

// Another program cannot bind the service's ports to take the pads' traffic, not even
// with SO_REUSEADDR.
TEST_F(ServerTest, NoOtherSocketCanBindTheServicePorts) {
    startServer();
    const struct {
        net::Family family;
        net::Transport transport;
        std::uint16_t port;
    } taken[] = {{net::Family::ipv4, net::Transport::stream, server->tcpPort()},
                 {net::Family::ipv4, net::Transport::datagram, server->udpPort4()},
                 {net::Family::ipv6, net::Transport::datagram, server->udpPort6()}};
    for (const auto& port : taken) {
        const net::SocketHandle other = net::openSocket(port.family, port.transport);
        ASSERT_NE(other, net::invalidSocket);
        net::setReuseAddress(other);
        EXPECT_FALSE(net::bindWildcard(other, port.family, port.port)) << port.port;
        net::closeSocket(other);
    }
}

TEST_F(ServerTest, StartOnARunningServerChangesNothing) {
    startServer();
    const auto sockets = server->serviceSockets();
    EXPECT_EQ(server->start(), server->tcpPort());
    EXPECT_EQ(server->serviceSockets().tcp4, sockets.tcp4);
    EXPECT_EQ(server->serviceSockets().udp4, sockets.udp4);
    EXPECT_EQ(delegate.count("publish"), 1);
}

TEST_F(ServerTest, StopReturnsTheServerToItsInitialState) {
    startServer();
    const char* name = server->serviceName();
    const std::uint16_t udpPort = server->udpPort4();
    auto client = admittedClient();

    server->stop();

    const auto sockets = server->serviceSockets();
    EXPECT_EQ(sockets.tcp4, net::invalidSocket);
    EXPECT_EQ(sockets.tcp6, net::invalidSocket);
    EXPECT_EQ(sockets.udp4, net::invalidSocket);
    EXPECT_EQ(sockets.udp6, net::invalidSocket);
    EXPECT_FALSE(server->hasServiceRegistration());
    EXPECT_EQ(server->watchedCount(), 0u);
    EXPECT_EQ(server->pendingCount(), 0u);
    EXPECT_EQ(server->tcpPort(), 0);
    EXPECT_EQ(server->delegate(), &delegate);
    EXPECT_EQ(server->udpPort4(), udpPort);
    EXPECT_EQ(server->serviceName(), name);
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(delegate.count("stop"), 1);
    EXPECT_TRUE(client->waitForClose());
}

TEST_F(ServerTest, RestartListensAgainAndRegistersAgain) {
    startServer();
    server->stop();
    const std::uint16_t port = server->start();
    ASSERT_NE(port, ZarvoServer::startFailed);
    ASSERT_TRUE(delegate.waitFor("publish", 2));
    auto client = admittedClient();
    EXPECT_TRUE(client);
}

// Disconnect: the delegate's retry policy starts the server again inside serverDidStop.
TEST_F(ServerTest, StopFromAnotherThreadWithRestartInsideTheDelegate) {
    delegate.setOnStop([](ZarvoServer* stopped) { stopped->start(); });
    startServer();
    auto client = admittedClient();
    std::thread disconnect([&] { server->stop(); });
    disconnect.join();
    EXPECT_TRUE(client->waitForClose());
    EXPECT_TRUE(server->isRunning());
    ASSERT_TRUE(delegate.waitFor("publish", 2));
    EXPECT_TRUE(admittedClient());
    delegate.setOnStop(nullptr);
}

TEST_F(ServerTest, AutoAdmitSurvivesReinitialisation) {
    startServer(/*autoAdmit=*/true);
    server->stop();
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    auto client = connectClient();
    ASSERT_TRUE(client->send(makeMessage(wire::ChannelEvent, 0, 4)));
    auto reply = client->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, wire::HelloReply);
    EXPECT_TRUE(delegate.waitFor("message:7"));
}

TEST_F(ServerTest, RegistrationErrorStopsTheServerOnItsLoopThread) {
    ScopedEnvironment error("PELLVANE_FAKE_DNSSD_ERROR", "-65540");
    server = std::make_unique<ZarvoServer>("TestHost", padType, "");
    server->setDelegate(&delegate);
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    ASSERT_TRUE(delegate.waitFor("stop"));
    EXPECT_TRUE(eventually([&] { return !server->isRunning(); }));
    EXPECT_EQ(delegate.count("publish"), 0);
}

// Each registration fails on the loop thread, which may run while start() is still on its
// way out on another thread: every failure must still stop the server and reach the retry
// policy, four tries in all.
TEST_F(ServerTest, RegistrationErrorsAreRetriedUntilTheDelegateGivesUp) {
    ScopedEnvironment error("PELLVANE_FAKE_DNSSD_ERROR", "-65540");
    // Owned by the hook: the last stop's hook may still run as the test ends.
    const auto stops = std::make_shared<std::atomic<int>>(0);
    delegate.setOnStop([stops](ZarvoServer* stopped) {
        if (++*stops <= 3) {
            stopped->start();
            // The new loop meets its registration error while this stop is still running.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    server = std::make_unique<ZarvoServer>("TestHost", padType, "");
    server->setDelegate(&delegate);
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    ASSERT_TRUE(delegate.waitFor("stop", 4));
    EXPECT_TRUE(eventually([&] { return !server->isRunning(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(delegate.count("stop"), 4);
    EXPECT_EQ(server->watchedCount(), 0u);
    delegate.setOnStop(nullptr);
}

TEST_F(ServerTest, NullNameMeansTheHostName) {
    char host[256] = {};
    ASSERT_TRUE(net::hostName(host, sizeof host));
    ZarvoServer named(nullptr, padType, "");
    EXPECT_STREQ(named.serviceName(), host);
    named.init(named.serviceName(), padType, "");
    EXPECT_STREQ(named.serviceName(), host);
}

TEST_F(ServerTest, StartWithoutTheLibraryIsTriedFourTimes) {
    dnssd::unloadLibrary();
    int stops = 0;
    server = std::make_unique<ZarvoServer>("TestHost", padType, "");
    delegate.setOnStop([&](ZarvoServer* stopped) {
        if (++stops <= 3) {
            stopped->start();
        }
    });
    server->setDelegate(&delegate);
    EXPECT_EQ(server->start(), ZarvoServer::startFailed);
    EXPECT_EQ(delegate.count("stop"), 4);
    EXPECT_FALSE(server->isRunning());
    delegate.setOnStop(nullptr);
}

}  // namespace
}  // namespace pellvane::testing
