// Clients that vanish in the middle of a message: by a reset or by closing their sending
// side. The server drops them, delivers nothing of the cut message, and serves the others.
#include <random>

#include "tests/load/load_fixture.h"

namespace pellvane::testing {
namespace {

constexpr int rounds = 40;

enum class Vanish { reset, halfClose };

// A ChannelEvent of 100 bytes cut after `sentBytes`.
Message cutMessage(std::size_t sentBytes, std::uint32_t tag) {
    Message whole = taggedMessage(wire::ChannelEvent, {tag}, 88);
    whole.resize(sentBytes);
    return whole;
}

class VanishingClients : public LoadTest {
  protected:
    // Sends the start of a message and vanishes; true when the server dropped the client.
    bool vanishMidMessage(TestClient& client, std::size_t sentBytes, Vanish how) {
        if (!client.send(cutMessage(sentBytes, 0xDEAD))) {
            return false;
        }
        if (how == Vanish::reset) {
            net::setResetOnClose(client.socket());
            client.close();
            return true;
        }
        net::shutdownSend(client.socket());
        return client.waitForClose();  // the server closes its side once it reads the end
    }
};

TEST_F(VanishingClients, ResetOrHalfCloseInTheHeaderOrBodyLosesOnlyThatClient) {
    startServer(delegate);
    auto steady = admittedClient();
    const std::size_t cuts[] = {1, 7, 11, 12, 13, 50, 99};
    std::uint32_t steadySent = 0;
    for (Vanish how : {Vanish::reset, Vanish::halfClose}) {
        for (std::size_t cut : cuts) {
            auto leaving = admittedClient(cut % 2 == 0 ? net::Family::ipv4 : net::Family::ipv6);
            ASSERT_TRUE(vanishMidMessage(*leaving, cut, how)) << cut;
            ASSERT_TRUE(eventually([&] { return server->watchedCount() == serviceSockets + 1; }))
                << "cut after " << cut << " bytes was not dropped";
            ASSERT_TRUE(steady->send(taggedMessage(wire::KeyDown, {steadySent++})));
        }
    }
    ASSERT_TRUE(delegate.waitFor("message:5", static_cast<int>(steadySent)));
    EXPECT_EQ(delegate.count("message:7"), 0) << "a cut message was delivered";
    const auto messages = delegate.messages();
    for (std::uint32_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(tagOf(messages[i]), i);
    }
    server->broadcast(wire::buildAppName(named("still here")));
    const auto received = steady->readMessage();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->header.type, wire::AppName);
}

TEST_F(VanishingClients, PendingClientsVanishingMidHelloAreDropped) {
    startServer(delegate);
    for (Vanish how : {Vanish::reset, Vanish::halfClose}) {
        for (std::size_t cut : {5u, 12u, 100u}) {
            TestClient client;
            ASSERT_TRUE(client.connect(net::Family::ipv4, server->tcpPort()));
            Message hello = wire::buildHello("leaving");
            hello.resize(cut);
            ASSERT_TRUE(client.send(hello));
            if (how == Vanish::reset) {
                net::setResetOnClose(client.socket());
                client.close();
            } else {
                net::shutdownSend(client.socket());
                EXPECT_TRUE(client.waitForClose());
            }
            ASSERT_TRUE(eventually([&] { return server->watchedCount() == serviceSockets; }));
            EXPECT_EQ(server->pendingCount(), 0u);
        }
    }
    EXPECT_EQ(delegate.count("ask"), 0);
}

TEST_F(VanishingClients, ManyVanishWhileOneStreams) {
    startServer(delegate);
    auto steady = admittedClient();
    std::atomic<bool> done{false};
    std::uint32_t steadySent = 0;
    std::thread streamer([&] {
        while (!done) {
            if (!steady->send(taggedMessage(wire::KeyUp, {steadySent}))) {
                return;
            }
            ++steadySent;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::mt19937 random(7);
    for (int round = 0; round < rounds; ++round) {
        auto leaving = admittedClient();
        const std::size_t cut = 1 + random() % 99;
        ASSERT_TRUE(
            vanishMidMessage(*leaving, cut, round % 2 == 0 ? Vanish::reset : Vanish::halfClose));
    }
    ASSERT_TRUE(eventually([&] { return server->watchedCount() == serviceSockets + 1; }));
    done = true;
    streamer.join();
    ASSERT_TRUE(
        delegate.waitFor("message:6", static_cast<int>(steadySent), std::chrono::seconds(30)));
    EXPECT_EQ(delegate.count("message:7"), 0);
    const auto messages = delegate.messages();
    ASSERT_EQ(messages.size(), steadySent);
    for (std::uint32_t i = 0; i < messages.size(); ++i) {
        ASSERT_EQ(tagOf(messages[i]), i);
    }
}

}  // namespace
}  // namespace pellvane::testing
