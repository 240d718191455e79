// A service whose name another program already holds on the network registers under the
// next free one, "NAME (2)", "NAME (3)", ..., as DNS-SD programs do.
#include "server/instance_name.h"
#include "server/wire_reading.h"
#include "tests/server/server_fixture.h"
#include "tests/support/fake_dnssd_control.h"

namespace pellvane::testing {
namespace {

void DNSSD_API ignoreReply(dnssd::DNSServiceRef, dnssd::DNSServiceFlags, dnssd::DNSServiceErrorType,
                           const char*, const char*, const char*, void*) {}

// Whether the library reports the taken name in its reply (a responder that meets it on
// the network) or at once from the call (Avahi, for a name held on this computer), the
// service takes the next free name, and still calls itself by its own in every reply.
TEST_F(ServerTest, ATakenNameGivesWayToTheNextFreeOne) {
    FakeDnssdControl fake;
    ASSERT_TRUE(fake.found());
    dnssd::DNSServiceRef others[2] = {};
    ASSERT_EQ(dnssd::DNSServiceRegister(&others[0], 0, 0, "TestHost", padType, "", nullptr, 9, 0,
                                        nullptr, ignoreReply, nullptr),
              dnssd::kDNSServiceErr_NoError);
    ASSERT_EQ(dnssd::DNSServiceRegister(&others[1], 0, 0, "TestHost (2)", padType, "", nullptr, 9,
                                        0, nullptr, ignoreReply, nullptr),
              dnssd::kDNSServiceErr_NoError);
    int round = 0;
    for (const bool inCall : {false, true}) {
        SCOPED_TRACE(inCall ? "refused by the call" : "refused by the reply");
        fake.setConflictsInCall(inCall);
        startServer();
        ASSERT_TRUE(delegate.waitFor("publish", ++round));
        EXPECT_TRUE(fake.isRegistered("TestHost (3)", padType));
        TestClient client;
        ASSERT_TRUE(client.connect(net::Family::ipv4, server->tcpPort()));
        ASSERT_TRUE(client.sendHello("pad"));
        const auto reply = client.readMessage();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.type, wire::HelloReply);
        EXPECT_EQ(wire::readHelloReply(reply->bytes).serverName, "TestHost");
        server->shutDown();
        EXPECT_FALSE(fake.isRegistered("TestHost (3)", padType));
    }
    for (dnssd::DNSServiceRef other : others) {
        dnssd::DNSServiceRefDeallocate(other);
    }
}

TEST(InstanceName, AlternativeNamesFitOneLabelWithoutSplittingACharacter) {
    EXPECT_EQ(alternativeInstanceName("Desk", 2), "Desk (2)");
    EXPECT_EQ(alternativeInstanceName(std::string(70, 'a'), 12), std::string(58, 'a') + " (12)");
    // "é" would be cut after its first byte: it goes whole.
    EXPECT_EQ(alternativeInstanceName(std::string(57, 'a') + "\xc3\xa9zz", 12),
              std::string(57, 'a') + " (12)");
}

}  // namespace
}  // namespace pellvane::testing
