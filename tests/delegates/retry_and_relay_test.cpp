#include <gtest/gtest.h>

#include <thread>

#include "delegates/chann_delegate_w32.h"
#include "delegates/conn_delegate_w32.h"
#include "platform/sockets.h"
#include "server/wire_building.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_keyboard.h"
#include "tests/support/debug_capture.h"
#include "tests/support/fake_dnssd_control.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr char channelFailure[] = "Pellvane Server could not start the Channel Server.";
constexpr char padFailure[] = "Pellvane Server could not start the Bonjour service.";

bool waitUntil(const std::function<bool()>& condition,
               std::chrono::steady_clock::duration limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
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

    // A later failure of the same outage tells nobody again: it waits for the delayed start.
    delegate.serverDidStop(server.get());
    EXPECT_EQ(dialogs.boxCount(), 1);
    EXPECT_EQ(delegate.retryCount(), 5);
    EXPECT_TRUE(server->startPending());

    // A reset gives three fresh restarts, and the next outage is told again.
    delegate.serverDidPublish(server.get());
    EXPECT_EQ(delegate.retryCount(), 0);
    server->start();
    EXPECT_EQ(delegate.retryCount(), 4);
    EXPECT_EQ(dialogs.boxCount(), 2);
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

// A channel service with its delegate on the test DNS-SD library, which the test steers.
class ChannelRetry : public ::testing::Test {
  protected:
    void TearDown() override { server->shutDown(); }

    ServerEnvironment environment;
    FakeDnssdControl dnssd;
    FakeDialogs dialogs;
    ZarvoChannDelegateW32 delegate{dialogs, nullptr};
    std::unique_ptr<ZarvoServer> server = makeServer(&delegate, "_kespchan._tcp", "local.");
};

TEST_F(ChannelRetry, ServiceThatRegisteredIsRestartedAfterALaterFailure) {
    // Three stops with no server to restart use up the restarts.
    for (int i = 0; i < 3; ++i) {
        delegate.serverDidStop(nullptr);
    }
    ASSERT_EQ(delegate.retryCount(), 3);
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    ASSERT_TRUE(waitUntil([&] { return delegate.retryCount() == 0; }));  // registered

    server->stop();  // stops, and the delegate starts it again at once
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(dialogs.boxCount(), 0);
}

// Disconnects are the user's, not failures: however many come before the service is
// announced again, each brings it back and none uses up a restart.
TEST_F(ChannelRetry, DisconnectsInARowNeverEndTheService) {
    dnssd.setRepliesHeld(true);  // no registration is confirmed in between
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    for (int i = 0; i < 6; ++i) {
        server->stop();
    }
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(delegate.retryCount(), 0);
    EXPECT_EQ(dialogs.boxCount(), 0);
}

// The DNS-SD daemon restarts (Bonjour's service is restarted, avahi-daemon is updated):
// the registration is lost, the quick restarts fail while the daemon is away, the user is
// told once, and the service comes back by itself with the daemon.
TEST_F(ChannelRetry, AServiceWhoseDaemonWentAwayComesBackWithIt) {
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    dnssd.setDaemonRunning(false);
    ASSERT_TRUE(waitUntil([&] { return dialogs.boxCount() == 1; }));
    expectFailureBox(dialogs.boxes()[0], channelFailure);
    EXPECT_FALSE(server->isRunning());
    dnssd.setDaemonRunning(true);
    // The first delayed start comes 2 s after the box.
    ASSERT_TRUE(waitUntil([&] { return server->isRunning() && delegate.retryCount() == 0; }, 30s));
    EXPECT_TRUE(dnssd.isRegistered("Pellvane Test", "_kespchan._tcp"));
    EXPECT_EQ(dialogs.boxCount(), 1);
}

// A recording delegate that applies the retry policy with pauses of the test's choosing.
class PolicyDelegate : public RecordingDelegate {
  public:
    PolicyDelegate(dialogs::Dialogs& dialogs, RetryPauses pauses)
        : policy(dialogs, L"lost", pauses) {}
    void serverDidPublish(ZarvoServer* server) override {
        policy.reset();
        RecordingDelegate::serverDidPublish(server);
    }
    void serverDidStop(ZarvoServer* server) override {
        RecordingDelegate::serverDidStop(server);
        policy.serverDidStop(server);
    }
    RetryPolicy policy;
};

class RetryOutage : public ::testing::Test {
  protected:
    void start(RetryPauses pauses) {
        delegate = std::make_unique<PolicyDelegate>(dialogs, pauses);
        server = makeServer(delegate.get());
        ASSERT_NE(server->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(delegate->waitFor("publish"));
    }
    void TearDown() override {
        if (server) {
            server->shutDown();
        }
    }

    ServerEnvironment environment;
    FakeDnssdControl dnssd;
    FakeDialogs dialogs;
    std::unique_ptr<PolicyDelegate> delegate;
    std::unique_ptr<ZarvoServer> server;
};

TEST_F(RetryOutage, IsToldOnceWhileDelayedStartsGoOn) {
    start({20ms, 80ms});
    dnssd.setDaemonRunning(false);
    // The lost registration, three quick restarts, then four delayed ones.
    ASSERT_TRUE(delegate->waitFor("stop", 1 + 3 + 4));
    EXPECT_EQ(dialogs.boxCount(), 1);
    dnssd.setDaemonRunning(true);
    ASSERT_TRUE(delegate->waitFor("publish", 2));
    EXPECT_EQ(delegate->policy.retryCount(), 0);
    // Over: the next outage is told again.
    dnssd.setDaemonRunning(false);
    EXPECT_TRUE(waitUntil([&] { return dialogs.boxCount() == 2; }));
}

// The user's Disconnect and Quit do not wait for the pause to pass.
TEST_F(RetryOutage, DisconnectAndQuitEndTheWaitAtOnce) {
    start({1h, 1h});
    dnssd.setDaemonRunning(false);
    ASSERT_TRUE(waitUntil([&] { return server->startPending(); }));
    dnssd.setDaemonRunning(true);
    server->stop();
    EXPECT_TRUE(delegate->waitFor("publish", 2));

    dnssd.setDaemonRunning(false);
    ASSERT_TRUE(waitUntil([&] { return server->startPending(); }));
    const auto before = std::chrono::steady_clock::now();
    server->shutDown();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_FALSE(server->startPending());
    EXPECT_FALSE(server->isRunning());
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
    EXPECT_EQ(first.readMessage(), received(event));
    EXPECT_EQ(second.readMessage(), received(event));
    EXPECT_TRUE(pending.staysSilent(300ms));
    EXPECT_EQ(capture.count("RECEIVED CHANNEL EVENT!\n"), 1);
}

TEST_F(ChannelRelay, DatagramIsRelayedToo) {
    const Message event = channelEvent();
    ASSERT_TRUE(sendDatagram(net::Family::ipv4, channelServer->udpPort4(), event));
    EXPECT_EQ(first.readMessage(), received(event));
    EXPECT_EQ(second.readMessage(), received(event));
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
    delegate.serverDidReceiveMessage(nullptr, received(makeMessage(wire::ChannelEvent, 0, 4)));
    EXPECT_TRUE(capture.lines().empty());
    delegate.serverDidReceiveMessage(nullptr, received(makeMessage(wire::KeyDown, 0, 0)));
    EXPECT_EQ(capture.count("Delegate: none event!\n"), 1);
}

TEST(ChannelDelegate, AdmitsEveryHelloAndListsNoApplications) {
    FakeDialogs dialogs;
    ZarvoChannDelegateW32 delegate(dialogs, nullptr);
    const ReceivedMessage hello = received(wire::buildHello("program"));
    EXPECT_EQ(delegate.shouldAdmitClient(nullptr, &hello), 1);
    EXPECT_EQ(delegate.shouldAdmitClient(nullptr, nullptr), 0);
    EXPECT_EQ(delegate.applicationList(nullptr, &hello), nullptr);
    EXPECT_EQ(dialogs.boxCount(), 0);
}

}  // namespace
}  // namespace pellvane::testing
