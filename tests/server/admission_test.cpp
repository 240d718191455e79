// Admission of pad and channel clients through Hello, HelloReply, UdpInfo and Refusal,
// over IPv4 and IPv6.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "tests/server/server_fixture.h"

namespace pellvane::testing {
namespace {

std::vector<wire::AppNameRecord> someApplications(std::size_t count) {
    std::vector<wire::AppNameRecord> apps;
    for (std::uint32_t i = 0; i < count; ++i) {
        apps.push_back(named("application" + std::to_string(i), 4000 + i));
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
    EXPECT_EQ(reply->header.type, wire::HelloReply);
    EXPECT_EQ(reply->bytes.size(), 144u + 2 * 132u);
    EXPECT_EQ(wire::readHelloReply(reply->bytes).serverName, "TestHost");
    EXPECT_EQ(wire::readHelloReply(reply->bytes).apps, someApplications(2));

    auto info = client->readMessage();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->header.type, wire::UdpInfo);
    const auto ports = wire::readUdpInfo(info->bytes);
    ASSERT_TRUE(ports);
    EXPECT_EQ(ports->ipv4, server->udpPort4());
    EXPECT_EQ(ports->ipv6, server->udpPort6());

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
    EXPECT_EQ(refusal->bytes, wire::buildRefusal("TestHost"));
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
    EXPECT_EQ(refusal->header.type, wire::Refusal);
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
    EXPECT_EQ(reply->bytes, wire::buildHelloReply("TestHost", nullptr));
    auto info = client->readMessage();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->header.type, wire::UdpInfo);

    ASSERT_TRUE(delegate.waitFor("message:7"));
    EXPECT_EQ(delegate.messages().front(), received(event));
    EXPECT_EQ(delegate.count("ask"), 0);
}

TEST_P(FamilyTest, ChannelServiceAdmitsAHelloWithAnyArgument) {
    startServer(/*autoAdmit=*/true);
    auto client = connectClient(GetParam());
    ASSERT_TRUE(client->sendHello("Tool", 127));
    auto reply = client->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, wire::HelloReply);
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
    EXPECT_EQ(delegate.messages().back(), received(keys));
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
    EXPECT_EQ(reply->bytes, wire::buildHelloReply(longName.substr(0, 127), nullptr));
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
    EXPECT_EQ(reply->header, (wire::MessageHeader{32880, wire::HelloReply, 32868}));
    const auto apps = wire::readHelloReply(reply->bytes).apps;
    ASSERT_EQ(apps.size(), 248u);
    EXPECT_EQ(apps.back(), someApplications(248).back());
    auto info = client.readMessage();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->header.type, wire::UdpInfo);
}

// Keeps the delegate's questions open until answer() (or the end of the test).
class OpenQuestion {
  public:
    explicit OpenQuestion(RecordingDelegate& delegate) : delegate_(delegate) {
        std::shared_future<void> answered = answer_.get_future().share();
        delegate_.setOnAsk([answered] { answered.wait(); });
    }
    ~OpenQuestion() { answer(); }
    void answer() {
        if (!answered_) {
            answered_ = true;
            answer_.set_value();
        }
    }

  private:
    RecordingDelegate& delegate_;
    std::promise<void> answer_;
    bool answered_ = false;
};

// A person may take minutes to answer, or never: the admitted pads go on meanwhile.
TEST_F(ServerTest, AnOpenQuestionHoldsUpNoAdmittedPad) {
    startServer();
    auto pad = admittedClient();
    OpenQuestion question(delegate);
    auto stranger = connectClient();
    ASSERT_TRUE(stranger->sendHello("Stranger"));
    ASSERT_TRUE(delegate.waitFor("ask", 2));
    ASSERT_TRUE(pad->send(makeMessage(wire::KeyDown, 0, 0)));
    EXPECT_TRUE(delegate.waitFor("message:5"));
    ASSERT_TRUE(
        sendDatagram(net::Family::ipv4, server->udpPort4(), makeMessage(wire::GamepadEvent, 0, 0)));
    EXPECT_TRUE(delegate.waitFor("message:8"));
    question.answer();
    const auto reply = stranger->readMessage();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, wire::HelloReply);
}

// A host has one question at a time, its other Hellos share its answer, and a host that was
// just refused is refused again without a question; other hosts are still asked.
TEST_F(ServerTest, AHostIsAskedAboutOnceAtATimeAndNotAgainRightAfterARefusal) {
    delegate.setAdmitAnswer(0);
    startServer();
    OpenQuestion question(delegate);
    auto first = connectClient();
    auto second = connectClient();
    ASSERT_TRUE(first->sendHello("Phone"));
    ASSERT_TRUE(delegate.waitFor("ask"));
    ASSERT_TRUE(second->sendHello("Phone"));
    EXPECT_TRUE(second->staysSilent());
    question.answer();
    for (TestClient* client : {first.get(), second.get()}) {
        const auto refusal = client->readMessage();
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->header.type, wire::Refusal);
        EXPECT_TRUE(client->waitForClose());
    }
    auto again = connectClient();
    ASSERT_TRUE(again->sendHello("Phone"));
    const auto refusal = again->readMessage();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->header.type, wire::Refusal);
    EXPECT_EQ(delegate.count("ask"), 1);

    TestClient other;
    ASSERT_TRUE(other.connectFrom("127.0.0.2", server->tcpPort()));
    ASSERT_TRUE(other.sendHello("Tablet"));
    EXPECT_TRUE(delegate.waitFor("ask", 2));
}

}  // namespace
}  // namespace pellvane::testing
