// The client table and the rules of who gets a place: the order in which connections give
// way, the limits per host, the time a new connection has to say something, the queue of a
// client that does not read, and the pause before a refused host is asked about again.
#include "server/client_table.h"

#include <gtest/gtest.h>

#include "server/client_placement.h"
#include "server/output_queue.h"
#include "server/refused_hosts.h"
#include "server/socket_io.h"
#include "tests/server/server_fixture.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = ClientTable::Clock;

net::HostAddress host(std::uint8_t last) {
    net::HostAddress address;
    address.bytes = {127, 0, 0, last};
    return address;
}

// Sockets that take as much as `room` allows and note what was closed.
class CountingIo final : public SocketIo {
  public:
    net::SocketHandle accept(net::SocketHandle) override { return net::invalidSocket; }
    int receive(net::SocketHandle, std::span<std::uint8_t>) override {
        return net::transferWouldBlock;
    }
    int receiveDatagram(net::SocketHandle, std::span<std::uint8_t>, net::DatagramSource&) override {
        return net::transferWouldBlock;
    }
    int send(net::SocketHandle, std::span<const std::uint8_t> bytes) override {
        const std::size_t taken = std::min(bytes.size(), room);
        room -= taken;
        return taken == 0 ? net::transferWouldBlock : static_cast<int>(taken);
    }
    bool peerHost(net::SocketHandle, net::HostAddress&) override { return false; }
    bool peerHasGone(net::SocketHandle) override { return false; }
    void shutdown(net::SocketHandle) override {}
    int close(net::SocketHandle socket) override {
        closed.push_back(socket);
        return 0;
    }
    std::size_t room = 0;
    std::vector<net::SocketHandle> closed;
};

TEST(ClientTable, TheSilentFallDueInTheOrderTheyCameAndIdsAreNeverReused) {
    CountingIo io;
    ClientTable table(io);
    const Clock::time_point start{};
    const ClientId first = *table.add(10, host(1), start);
    const ClientId second = *table.add(11, host(1), start + 1s);
    const ClientId third = *table.add(12, host(2), start + 2s);
    EXPECT_EQ(table.waitingCount(), 3u);

    table.noteActivity(first, start + 1s);
    EXPECT_EQ(table.nextDeadline(), start + 11s);
    EXPECT_EQ(table.overdue(start + 11s), std::vector<ClientId>{second});
    EXPECT_EQ(table.overdue(start + 12s), (std::vector<ClientId>{second, third}));

    table.setStage(first, ClientStage::admitted);
    EXPECT_EQ(table.waitingCount(), 2u);
    ASSERT_TRUE(table.drop(first));
    EXPECT_FALSE(table.drop(first));  // one way out, taken once
    EXPECT_EQ(io.closed, std::vector<net::SocketHandle>{10});
    // A newcomer on the same handle is another client: the old id finds nothing.
    const ClientId again = *table.add(10, host(1), start + 3s);
    EXPECT_NE(again, first);
    EXPECT_FALSE(table.stage(first));
    table.dropAll();
    EXPECT_EQ(table.clientCount(), 0u);
    EXPECT_EQ(table.nextDeadline(), std::nullopt);
}

std::vector<Occupant> occupants(std::initializer_list<std::pair<std::uint8_t, ClientStage>> list) {
    std::vector<Occupant> result;
    ClientId id = 1;
    for (const auto& [last, stage] : list) {
        result.push_back({id, host(last), stage, Clock::time_point{} + std::chrono::seconds(id)});
        ++id;
    }
    return result;
}

TEST(ClientPlacement, LimitsPerHostAndWhoGivesWayOnAFullService) {
    constexpr auto admitted = ClientStage::admitted;
    constexpr auto waiting = ClientStage::waiting;
    constexpr auto asked = ClientStage::asked;
    // Two waiting from host 1: a third waits beside them; with a limit of two it is refused.
    auto two = occupants({{1, waiting}, {1, waiting}});
    EXPECT_EQ(placeNewcomer(two, host(1), false, 3, 8).refusal, nullptr);
    EXPECT_NE(placeNewcomer(two, host(1), false, 2, 8).refusal, nullptr);
    // Admitted connections count towards the host's places.
    auto held = occupants({{1, admitted}, {1, admitted}, {1, admitted}});
    EXPECT_NE(placeNewcomer(held, host(1), false, 8, 3).refusal, nullptr);
    EXPECT_EQ(placeNewcomer(held, host(2), false, 8, 3).refusal, nullptr);

    // Full: the oldest waiting connection gives way, not one being asked about.
    auto full = occupants({{2, asked}, {3, admitted}, {2, waiting}, {2, waiting}});
    EXPECT_EQ(placeNewcomer(full, host(4), true, 8, 8).givesWay, ClientId{3});
    // Full of admitted ones: the idlest of the host holding the most gives way to another.
    auto busy = occupants({{1, admitted}, {2, admitted}, {2, admitted}, {2, admitted}});
    EXPECT_EQ(placeNewcomer(busy, host(3), true, 8, 8).givesWay, ClientId{2});
    // ...but not to a newcomer of its own, nor when that would only move the unfairness.
    EXPECT_NE(placeNewcomer(busy, host(2), true, 8, 8).refusal, nullptr);
    auto even = occupants({{1, admitted}, {2, admitted}});
    EXPECT_NE(placeNewcomer(even, host(1), true, 8, 8).refusal, nullptr);
}

TEST(OutputQueue, RelaysAreSkippedWholeWhenFullAndRepliesAlwaysGoIn) {
    OutputQueue queue;
    const std::vector<std::uint8_t> relay(OutputQueue::relayLimit / 2 + 1, 7);
    EXPECT_TRUE(queue.pushBounded(relay));
    EXPECT_FALSE(queue.pushBounded(relay));  // skipped, not cut
    EXPECT_EQ(queue.size(), relay.size());
    queue.push(std::vector<std::uint8_t>(16, 1));
    EXPECT_EQ(queue.size(), relay.size() + 16);
    queue.consume(relay.size() - 1);
    EXPECT_EQ(queue.front().size(), 1u);
    queue.consume(1);
    EXPECT_EQ(queue.front().size(), 16u);
    EXPECT_EQ(queue.front()[0], 1);
}

TEST(ClientTable, ABroadcastWaitsInTheQueueOfAClientThatIsNotReadingUntilItStalls) {
    CountingIo io;
    ClientTable table(io);
    const Clock::time_point start{};
    const ClientId reader = *table.add(10, host(1), start);
    table.setStage(reader, ClientStage::admitted);
    table.noteActivity(reader, start);
    int skipped = 0;
    const std::vector<std::uint8_t> event(40'000, 3);
    EXPECT_EQ(table.queueToAdmitted(event, skipped, start), 1);
    io.room = 30'000;  // a slow link takes part of it
    EXPECT_TRUE(table.flush(reader, start + 1s));
    EXPECT_TRUE(table.hasOutput(reader));
    EXPECT_TRUE(table.stalled(start + 10s).empty());  // it took something a second ago
    EXPECT_EQ(table.stalled(start + 11s), std::vector<ClientId>{reader});
    io.room = 10'000;
    EXPECT_TRUE(table.flush(reader, start + 2s));
    EXPECT_FALSE(table.hasOutput(reader));
}

TEST(RefusedHosts, APauseThatDoublesAfterEachRefusalAndIsForgottenAfterAQuietHour) {
    RefusedHosts refused;
    const Clock::time_point start{};
    EXPECT_FALSE(refused.refusesNow(host(1), start));
    refused.noteRefusal(host(1), start);
    EXPECT_TRUE(refused.refusesNow(host(1), start + 4s));
    EXPECT_FALSE(refused.refusesNow(host(2), start + 4s));
    EXPECT_FALSE(refused.refusesNow(host(1), start + 5s));
    refused.noteRefusal(host(1), start + 5s);
    EXPECT_TRUE(refused.refusesNow(host(1), start + 14s));
    EXPECT_FALSE(refused.refusesNow(host(1), start + 15s));
    Clock::time_point at = start + 15s;
    for (int i = 0; i < 10; ++i) {
        refused.noteRefusal(host(1), at);
    }
    EXPECT_TRUE(refused.refusesNow(host(1), at + 299s));  // never more than five minutes
    EXPECT_FALSE(refused.refusesNow(host(1), at + 300s));
    refused.noteRefusal(host(1), at + 2h);  // a quiet hour later it starts afresh
    EXPECT_FALSE(refused.refusesNow(host(1), at + 2h + 5s));
}

// A connection that has not delivered a whole message in time is closed; one that has (and
// was admitted) stays.
TEST_F(ServerTest, ConnectionsThatSayNothingInTimeAreClosed) {
    server = std::make_unique<ZarvoServer>("TestHost", padType, "");
    server->setFirstMessageTime(300ms);
    server->setDelegate(&delegate);
    ASSERT_NE(server->start(), ZarvoServer::startFailed);

    auto silent = connectClient();
    auto halfSpoken = connectClient();
    const Message hello = makeMessage(wire::Hello, wire::helloArgument, 128);
    ASSERT_TRUE(halfSpoken->send(std::span(hello).first(20)));
    auto admitted = admittedClient();

    EXPECT_TRUE(silent->waitForClose());
    EXPECT_TRUE(halfSpoken->waitForClose());
    EXPECT_TRUE(admitted->staysSilent());
    EXPECT_EQ(server->clientCount(), 1u);
}

// One host's programs take at most their share of the channel service, which admits them
// all at once: another program still gets in.
TEST_F(ServerTest, OneHostCannotTakeEveryPlaceOfTheChannelService) {
    startServer(true);
    const Message event = makeMessage(wire::ChannelEvent, 0, 4);
    std::vector<std::unique_ptr<TestClient>> flood;
    for (int i = 0; i < 59; ++i) {
        flood.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(flood.back()->connectFrom("127.0.0.2", server->tcpPort()));
        flood.back()->send(event);  // may fail: the server closes those past the limit
    }
    EXPECT_TRUE(eventually([&] { return server->admittedCount() == ClientTable::perHostLimit; }));
    EXPECT_EQ(server->clientCount(), ClientTable::perHostLimit);
    auto program = connectClient();
    ASSERT_TRUE(program->send(event));
    const auto reply = program->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, wire::HelloReply);
}

}  // namespace
}  // namespace pellvane::testing
