// broadcast: every admitted client gets the whole message, nobody else gets anything, and
// messages sent from two threads at once never interleave on a connection.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "tests/server/server_fixture.h"

namespace pellvane::testing {
namespace {

TEST_F(ServerTest, BroadcastWithOnlyPendingClientsSendsNothing) {
    startServer();
    auto pending = connectClient();
    ASSERT_TRUE(eventually([&] { return server->pendingCount() == 1u; }));
    EXPECT_EQ(server->broadcast(makeMessage(wire::AppName, 132, 132)), 0);
    EXPECT_TRUE(pending->staysSilent());
}

TEST_F(ServerTest, BroadcastReachesAdmittedClientsOnlyByteForByte) {
    startServer();
    auto first = admittedClient(net::Family::ipv4);
    auto second = admittedClient(net::Family::ipv6);
    auto pending = connectClient();
    ASSERT_TRUE(eventually([&] { return server->pendingCount() == 1u; }));

    const Message event = makeMessage(wire::ChannelEvent, 9, 33, 0xC3);
    EXPECT_EQ(server->broadcast(event), static_cast<int>(event.size()));
    EXPECT_EQ(first->readMessage(), received(event));
    EXPECT_EQ(second->readMessage(), received(event));
    EXPECT_TRUE(pending->staysSilent());
}

TEST_F(ServerTest, ConcurrentBroadcastsNeverInterleave) {
    startServer();
    auto client = admittedClient();
    const Message a = makeMessage(wire::AppName, 1, 40000, 0xAA);
    const Message b = makeMessage(wire::ChannelEvent, 2, 30000, 0xBB);
    constexpr int rounds = 20;
    std::thread sendA([&] {
        for (int i = 0; i < rounds; ++i)
            server->broadcast(a);
    });
    std::thread sendB([&] {
        for (int i = 0; i < rounds; ++i)
            server->broadcast(b);
    });
    int seenA = 0;
    int seenB = 0;
    for (int i = 0; i < 2 * rounds; ++i) {
        auto message = client->readMessage(std::chrono::seconds(10));
        ASSERT_TRUE(message) << i;
        if (message->bytes == a) {
            ++seenA;
        } else {
            ASSERT_EQ(message->bytes, b) << "message " << i << " was mixed with another";
            ++seenB;
        }
    }
    sendA.join();
    sendB.join();
    EXPECT_EQ(seenA, rounds);
    EXPECT_EQ(seenB, rounds);
}

// Clients that do not read share one short wait: the broadcast neither waits for each in
// turn nor keeps them, and the others still get the message whole.
TEST_F(ServerTest, SlowReadersShareOneShortWaitAndAreDropped) {
    startServer();
    auto reader = admittedClient();
    const std::uint32_t withReader = server->watchedCount();
    std::vector<std::unique_ptr<TestClient>> slow;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(slow.back()->connect(net::Family::ipv4, server->tcpPort(), 2048));
        ASSERT_TRUE(slow.back()->admit());
    }
    const Message event = makeMessage(wire::ChannelEvent, 0, 65535 - 12, 0x5A);
    constexpr int rounds = 80;  // more than a send buffer grows to on loopback (4 MB)
    std::thread reading([&] {
        for (int i = 0; i < rounds; ++i) {
            EXPECT_EQ(reader->readMessage(), received(event)) << i;
        }
    });
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        server->broadcast(event);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    reading.join();
    EXPECT_TRUE(eventually([&] { return server->watchedCount() == withReader; }));
}

TEST_F(ServerTest, StopClosesEveryClient) {
    startServer();
    auto admitted = admittedClient();
    auto pending = connectClient();
    ASSERT_TRUE(eventually([&] { return server->watchedCount() == 7u; }));
    server->stop();
    EXPECT_TRUE(admitted->waitForClose());
    EXPECT_TRUE(pending->waitForClose());
}

}  // namespace
}  // namespace pellvane::testing
