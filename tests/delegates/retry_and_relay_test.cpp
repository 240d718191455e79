#include <gtest/gtest.h>

#include <thread>

#include "delegates/chann_delegate_w32.h"
#include "delegates/conn_delegate_w32.h"
#include "platform/sockets.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_keyboard.h"
#include "tests/support/debug_capture.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr char channelFailure[] = "Pellvane Server could not start the Channel Server.";
constexpr char padFailure[] = "Pellvane Server could not start the Bonjour service.";

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void expectFailureBox(const FakeDialogs::Box& box, const char* text) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, "Pellvane Server");
    EXPECT_EQ(box.style, 0x10u);
    EXPECT_TRUE(box.wide);
}

// Without a DNS-SD library every start fails at its registration.
class RetryPolicyWithoutDnssd : public ::testing::Test {
  protected:
    RetryPolicyWithoutDnssd() { net::startSocketLibrary(); }
    ~RetryPolicyWithoutDnssd() override { net::stopSocketLibrary(); }
    FakeDialogs dialogs;
};

TEST_F(RetryPolicyWithoutDnssd, ChannelServiceIsTriedFourTimesThenTheUserIsTold) {
    ZarvoChannDelegateW32 delegate(dialogs, nullptr);
    auto server = makeServer(&delegate, "_kespchan._tcp", "local.");
    EXPECT_EQ(server->start(), ZarvoServer::startFailed);
    EXPECT_EQ(delegate.retryCount(), 4);
    ASSERT_EQ(dialogs.boxCount(), 1);
    expectFailureBox(dialogs.boxes()[0], channelFailure);
    EXPECT_FALSE(server->isRunning());

    // Each later stop without a registration in between shows the box and restarts nothing.
    delegate.serverDidStop(server.get());
    EXPECT_EQ(dialogs.boxCount(), 2);
    EXPECT_EQ(delegate.retryCount(), 5);

    // A reset gives three fresh restarts.
    delegate.serverDidPublish(server.get());
    EXPECT_EQ(delegate.retryCount(), 0);
    server->start();
    EXPECT_EQ(delegate.retryCount(), 4);
    EXPECT_EQ(dialogs.boxCount(), 3);
    delegate.resetRetryCount(server.get());
    EXPECT_EQ(delegate.retryCount(), 0);
    server->shutDown();
}

TEST_F(RetryPolicyWithoutDnssd, PadServiceUsesItsOwnText) {
    FakeKeyboard keyboard;
    FakeDesktop desktop;
    RecordingController controller;
    ZarvoConnDelegateW32 delegate(keyboard, desktop, dialogs, controller);
    auto server = makeServer(&delegate);
    EXPECT_EQ(server->start(), ZarvoServer::startFailed);
    EXPECT_EQ(delegate.retryCount(), 4);
    ASSERT_EQ(dialogs.boxCount(), 1);
    expectFailureBox(dialogs.boxes()[0], padFailure);
    server->shutDown();
}

TEST(RetryPolicy, ServiceThatRegisteredIsRestartedAfterALaterFailure) {
    ServerEnvironment environment;
    FakeDialogs dialogs;
    ZarvoChannDelegateW32 delegate(dialogs, nullptr);
    // Three stops with no server to restart use up the restarts.
    for (int i = 0; i < 3; ++i) {
        delegate.serverDidStop(nullptr);
    }
    ASSERT_EQ(delegate.retryCount(), 3);
    auto server = makeServer(&delegate, "_kespchan._tcp", "local.");
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    ASSERT_TRUE(waitUntil([&] { return delegate.retryCount() == 0; }));  // registered

    server->stop();  // stops, and the delegate starts it again at once
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(dialogs.boxCount(), 0);
    server->shutDown();
}

class ChannelRelay : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(padServer->start(), ZarvoServer::startFailed);
        channelServer->setAutoAdmit(true);
        ASSERT_NE(channelServer->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(first.connect(net::Family::ipv4, padServer->tcpPort()));
        ASSERT_TRUE(first.admit("first"));
        ASSERT_TRUE(second.connect(net::Family::ipv6, padServer->tcpPort()));
        ASSERT_TRUE(second.admit("second"));
        ASSERT_TRUE(pending.connect(net::Family::ipv4, padServer->tcpPort()));
        ASSERT_TRUE(waitUntil([&] { return padServer->pendingCount() == 1; }));
    }

    void TearDown() override {
        channelServer->shutDown();
        padServer->shutDown();
    }

    static Message channelEvent() {
        Message event = makeMessage(wire::ChannelEvent, 0xA5A5A5A5, 37);
        for (std::size_t i = wire::headerSize; i < event.size(); ++i) {
            event[i] = static_cast<std::uint8_t>(i * 7);
        }
        return event;
    }

    ServerEnvironment environment;
    FakeDialogs dialogs;
    RecordingDelegate padDelegate;
    std::unique_ptr<ZarvoServer> padServer = makeServer(&padDelegate);
    ZarvoChannDelegateW32 channelDelegate{dialogs, padServer.get()};
    std::unique_ptr<ZarvoServer> channelServer =
        makeServer(&channelDelegate, "_kespchan._tcp", "local.");
    TestClient first;
    TestClient second;
    TestClient pending;
};

TEST_F(ChannelRelay, FirstMessageOfAChannelClientReachesEveryAdmittedPadClientUnchanged) {
    DebugCapture capture;
    TestClient program;
    ASSERT_TRUE(program.connect(net::Family::ipv4, channelServer->tcpPort()));
    const Message event = channelEvent();
    ASSERT_TRUE(program.send(event));
    EXPECT_EQ(first.readMessage(), event);
    EXPECT_EQ(second.readMessage(), event);
    EXPECT_TRUE(pending.staysSilent(300ms));
    EXPECT_EQ(capture.count("RECEIVED CHANNEL EVENT!\n"), 1);
}

TEST_F(ChannelRelay, DatagramIsRelayedToo) {
    const Message event = channelEvent();
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, channelServer->udpPort4(), event));
    EXPECT_EQ(first.readMessage(), event);
    EXPECT_EQ(second.readMessage(), event);
}

TEST_F(ChannelRelay, OtherTypesAreDroppedWithATrace) {
    DebugCapture capture;
    TestClient program;
    ASSERT_TRUE(program.connect(net::Family::ipv4, channelServer->tcpPort()));
    ASSERT_TRUE(program.send(makeMessage(wire::KeyDown, 0, 12)));
    ASSERT_TRUE(program.send(makeMessage(wire::AppName, 132, 132)));
    EXPECT_TRUE(waitUntil([&] { return capture.count("Delegate: none event!\n") == 2; }));
    EXPECT_TRUE(first.staysSilent(300ms));
    EXPECT_EQ(capture.count("RECEIVED CHANNEL EVENT!\n"), 0);
}

TEST(ChannelDelegate, WithoutPadServerNothingIsSentOrTraced) {
    DebugCapture capture;
    FakeDialogs dialogs;
    ZarvoChannDelegateW32 delegate(dialogs, nullptr);
    delegate.serverDidReceiveMessage(nullptr, makeMessage(wire::ChannelEvent, 0, 4));
    EXPECT_TRUE(capture.lines().empty());
    delegate.serverDidReceiveMessage(nullptr, Message(3, 7));
    EXPECT_EQ(capture.count("Delegate: none event!\n"), 1);
}

TEST(ChannelDelegate, AdmitsEveryHelloAndListsNoApplications) {
    FakeDialogs dialogs;
    ZarvoChannDelegateW32 delegate(dialogs, nullptr);
    const Message hello = wire::buildHello("program");
    EXPECT_EQ(delegate.shouldAdmitClient(nullptr, &hello), 1);
    EXPECT_EQ(delegate.shouldAdmitClient(nullptr, nullptr), 0);
    EXPECT_EQ(delegate.applicationList(nullptr, &hello), nullptr);
    EXPECT_EQ(dialogs.boxCount(), 0);
}

}  // namespace
}  // namespace pellvane::testing
