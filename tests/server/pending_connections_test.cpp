// Connections waiting for admission: the order in which they give way, the limit per host,
// and the time a new connection has to say something.
#include "server/pending_connections.h"

#include <gtest/gtest.h>

#include "tests/server/server_fixture.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = PendingConnections::Clock;

net::HostAddress host(std::uint8_t last) {
    net::HostAddress address;
    address.bytes = {127, 0, 0, last};
    return address;
}

TEST(PendingConnections, TheSilentFallDueInTheOrderTheyCame) {
    PendingConnections pending;
    const Clock::time_point start{};
    pending.add(10, host(1), start);
    pending.add(11, host(1), start + 1s);
    pending.add(12, host(2), start + 2s);
    EXPECT_EQ(pending.countFrom(host(1)), 2u);
    EXPECT_EQ(pending.oldest(), 10);

    pending.firstMessageArrived(10);
    EXPECT_EQ(pending.nextDeadline(), start + 11s);
    EXPECT_EQ(pending.overdue(start + 11s), std::vector<net::SocketHandle>{11});
    EXPECT_EQ(pending.overdue(start + 12s), (std::vector<net::SocketHandle>{11, 12}));

    pending.remove(10);  // admitted: the next oldest now gives way first
    EXPECT_EQ(pending.oldest(), 11);
    pending.remove(11);
    pending.remove(12);
    EXPECT_EQ(pending.nextDeadline(), std::nullopt);
    EXPECT_EQ(pending.oldest(), net::invalidSocket);
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

}  // namespace
}  // namespace pellvane::testing
