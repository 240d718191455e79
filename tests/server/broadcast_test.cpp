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
    constexpr int rounds = 12;  // 840 KB in all: within what a client's queue holds
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

// Clients that do not read hold up nobody: a broadcast only queues, the reader gets every
// message whole, those that do not read skip what their queues cannot hold, and they go
// when they have taken nothing for long.
TEST_F(ServerTest, ClientsThatDoNotReadHoldUpNobodyAndGoWhenTheyTakeNothingForLong) {
    server = std::make_unique<ZarvoServer>("TestHost", padType, "");
    server->setStallTime(std::chrono::milliseconds(1500));
    server->setDelegate(&delegate);
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
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
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        EXPECT_GT(server->broadcast(event), 0) << i;
        ASSERT_EQ(reader->readMessage(), received(event)) << i;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_GT(server->skippedBroadcasts(), 0u);
    EXPECT_TRUE(eventually([&] { return server->watchedCount() == withReader; }));
    EXPECT_TRUE(reader->staysSilent());
}

// A pad on a slow link takes the relayed events as its link carries them, later than any
// send could wait for, and keeps its session; what its queue cannot hold is skipped whole.
TEST_F(ServerTest, APadThatReadsLateGetsWholeEventsAndKeepsItsSession) {
    startServer();
    TestClient pad;
    ASSERT_TRUE(pad.connect(net::Family::ipv4, server->tcpPort(), 2048));
    ASSERT_TRUE(pad.admit());
    const Message event = makeMessage(wire::ChannelEvent, 0, 65535 - 12, 0x5A);
    constexpr int events = 80;  // more than the connection and the queue hold together
    for (int i = 0; i < events; ++i) {
        server->broadcast(event);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    std::uint64_t received = 0;
    while (const auto message = pad.readMessage(std::chrono::milliseconds(1000))) {
        ASSERT_EQ(message->bytes, event) << received;
        ++received;
    }
    EXPECT_GE(received, 10u);  // the queue alone holds fifteen
    EXPECT_EQ(received + server->skippedBroadcasts(), static_cast<std::uint64_t>(events));
    EXPECT_EQ(server->clientCount(), 1u);
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
