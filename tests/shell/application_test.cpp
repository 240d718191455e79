// The program's life as a whole, on loopback with the test DNS-SD library: the start-up
// order, the wiring of the two services, Disconnect, and a shutdown that ends both
// services before the controller closes.
#include "shell/application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "server/dnssd_binding.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_keyboard.h"
#include "tests/fakes/recording_controller.h"
#include "tests/shell/temporary_directory.h"
#include "tests/support/debug_capture.h"
#include "tests/support/eventually.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

namespace fs = std::filesystem;

// The test's own hold on the socket library: on Windows the application's shutdown ends
// its own, which must not take the test clients' sockets with it.
struct SocketLibrary {
    SocketLibrary() { net::startSocketLibrary(); }
    ~SocketLibrary() { net::stopSocketLibrary(); }
};

class ApplicationTest : public ::testing::Test {
  protected:
    ApplicationTest() {
        controller.watchServers(&application.padServer(), &application.channelServer());
    }

    shell::ApplicationSeams seams() { return {keyboard, desktop, dialogs, controller}; }

    std::unique_ptr<TestClient> admittedPadClient(net::Family family = net::Family::ipv4) {
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->connect(family, application.padServer().tcpPort()));
        EXPECT_TRUE(client->admit());
        return client;
    }

    SocketLibrary socketLibrary;
    dnssd::LibraryScope dnssdLibrary{PELLVANE_FAKE_DNSSD};
    FakeKeyboard keyboard;
    FakeDesktop desktop;
    FakeDialogs dialogs;
    RecordingController controller{false};
    TemporaryDirectory workingDirectory;
    DebugCapture debugLines;
    shell::Application application{seams(), workingDirectory.text()};
};

TEST_F(ApplicationTest, StartOpensTheControllerBeforeThePadServiceThenStartsBothServices) {
    controller.setPresent(true);
    application.start();

    const auto calls = controller.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].open);
    EXPECT_FALSE(calls[0].padRunning);
    EXPECT_FALSE(calls[0].padHasDelegate);
    EXPECT_FALSE(calls[0].channelRunning);

    ZarvoServer& pad = application.padServer();
    ZarvoServer& channel = application.channelServer();
    EXPECT_TRUE(pad.isRunning());
    EXPECT_TRUE(channel.isRunning());
    EXPECT_EQ(pad.delegate(), &application.connectionDelegate());
    EXPECT_EQ(channel.delegate(), &application.channelDelegate());
    EXPECT_STREQ(pad.serviceType(), "_kesp._tcp");
    EXPECT_STREQ(pad.serviceDomain(), "");
    EXPECT_STREQ(channel.serviceType(), "_kespchan._tcp");
    EXPECT_STREQ(channel.serviceDomain(), "local.");
    EXPECT_FALSE(pad.autoAdmit());
    EXPECT_TRUE(channel.autoAdmit());
    EXPECT_NE(pad.tcpPort(), channel.tcpPort());
    EXPECT_EQ(application.channelPort(), channel.tcpPort());
    EXPECT_NE(application.channelPort(), 0);
    EXPECT_EQ(dialogs.boxCount(), 0);
    EXPECT_FALSE(debugLines.contains("Controller NOT OPENED!\n"));
}

TEST_F(ApplicationTest, BothServicesAreNamedAfterTheHost) {
    application.start();
    char host[256] = {};
    ASSERT_TRUE(net::hostName(host, sizeof host));
    EXPECT_STREQ(application.padServer().serviceName(), host);
    EXPECT_STREQ(application.channelServer().serviceName(), host);
}

TEST_F(ApplicationTest, MissingControllerIsToldOnceThroughTheMarkerFile) {
    application.start();
    EXPECT_EQ(dialogs.boxCount(), 1);
    EXPECT_TRUE(fs::exists(workingDirectory.file("quibdeverr.ini")));
    EXPECT_TRUE(debugLines.contains("Controller NOT OPENED!\n"));
    // The program goes on without gamepad output.
    EXPECT_TRUE(application.padServer().isRunning());
    EXPECT_TRUE(application.channelServer().isRunning());
}

TEST_F(ApplicationTest, ShutdownEndsBothServicesBeforeTheControllerCloses) {
    controller.setPresent(true);
    application.start();
    auto client = admittedPadClient();

    application.shutDown();

    const auto calls = controller.calls();
    ASSERT_FALSE(calls.empty());
    const auto& close = calls.back();
    EXPECT_FALSE(close.open);
    EXPECT_FALSE(close.padRunning);
    EXPECT_FALSE(close.channelRunning);
    EXPECT_FALSE(close.padHasDelegate);
    EXPECT_FALSE(controller.isOpen());
    // Nothing was restarted by the stops, and the pad client saw its connection end.
    EXPECT_FALSE(application.padServer().isRunning());
    EXPECT_FALSE(application.channelServer().isRunning());
    EXPECT_TRUE(client->waitForClose());
    // Only the admission question: no restart failed.
    EXPECT_EQ(dialogs.boxCount(), 1);
}

TEST_F(ApplicationTest, ShutdownHappensOnceAndNeedsAStart) {
    application.shutDown();  // never started: nothing to end
    EXPECT_TRUE(controller.calls().empty());

    application.start();
    application.shutDown();
    application.shutDown();
    const auto calls = controller.calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return !c.open; }), 1);
}

TEST_F(ApplicationTest, DisconnectDropsPadClientsAndBringsThePadServiceBackOnANewPort) {
    application.start();
    const std::uint16_t oldPadPort = application.padServer().tcpPort();
    const std::uint16_t channelPort = application.channelPort();
    auto ipv4 = admittedPadClient(net::Family::ipv4);
    auto ipv6 = admittedPadClient(net::Family::ipv6);
    ASSERT_TRUE(eventually([&] { return application.padClientConnected(); }));

    application.disconnect();

    EXPECT_TRUE(ipv4->waitForClose());
    EXPECT_TRUE(ipv6->waitForClose());
    ASSERT_TRUE(application.padServer().isRunning());
    EXPECT_NE(application.padServer().tcpPort(), oldPadPort);
    EXPECT_EQ(application.padServer().delegate(), &application.connectionDelegate());
    EXPECT_EQ(application.channelPort(), channelPort);
    EXPECT_FALSE(application.padClientConnected());
    // The restarted service admits again.
    auto again = admittedPadClient();
    EXPECT_TRUE(application.padClientConnected());
}

TEST_F(ApplicationTest, PadClientConnectedCountsPendingAndAdmittedClientsOnly) {
    application.start();
    EXPECT_FALSE(application.padClientConnected());

    TestClient pending;
    ASSERT_TRUE(pending.connect(net::Family::ipv4, application.padServer().tcpPort()));
    EXPECT_TRUE(eventually([&] { return application.padClientConnected(); }));
    pending.close();
    EXPECT_TRUE(eventually([&] { return !application.padClientConnected(); }));

    // A channel client is not a pad client.
    TestClient channelClient;
    ASSERT_TRUE(channelClient.connect(net::Family::ipv4, application.channelPort()));
    ASSERT_TRUE(channelClient.sendHello("channel"));
    ASSERT_TRUE(channelClient.readMessage().has_value());
    EXPECT_FALSE(application.padClientConnected());
}

TEST_F(ApplicationTest, ChannelEventsReachEveryAdmittedPadClientUnchanged) {
    application.start();
    auto first = admittedPadClient(net::Family::ipv4);
    auto second = admittedPadClient(net::Family::ipv6);
    TestClient pending;
    ASSERT_TRUE(pending.connect(net::Family::ipv4, application.padServer().tcpPort()));

    Message event = makeMessage(wire::ChannelEvent, 0x01020304, 9, 0);
    for (std::size_t i = wire::headerSize; i < event.size(); ++i) {
        event[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    TestClient channelClient;
    ASSERT_TRUE(channelClient.connect(net::Family::ipv4, application.channelPort()));
    // The very first message of a channel client is relayed: the channel service admits
    // on any first message.
    ASSERT_TRUE(channelClient.send(event));

    for (TestClient* client : {first.get(), second.get()}) {
        const auto received = client->readMessage();
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ(received->bytes, event);
    }
    EXPECT_TRUE(pending.staysSilent());
}

TEST_F(ApplicationTest, ServicesThatCannotStartAreToldAboutAndTheProgramRunsOn) {
    dnssd::unloadLibrary();  // no DNS-SD: neither service can register
    controller.setPresent(true);
    application.start();

    // Both were tried four times, the first start and three restarts, and each told once.
    const auto boxes = dialogs.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Pellvane Server could not start the Bonjour service.");
    EXPECT_EQ(boxes[1].text, "Pellvane Server could not start the Channel Server.");
    EXPECT_EQ(application.connectionDelegate().retryCount(), 4);
    EXPECT_EQ(application.channelDelegate().retryCount(), 4);
    EXPECT_FALSE(application.padServer().isRunning());
    EXPECT_EQ(application.channelPort(), 0);
    EXPECT_FALSE(application.padClientConnected());
    // A Disconnect tries again at once; that fails too, but this outage has been told, and
    // the delayed start in the background waits on until Quit ends it.
    application.disconnect();
    EXPECT_EQ(dialogs.boxCount(), 2);
    EXPECT_EQ(application.connectionDelegate().retryCount(), 5);
    EXPECT_TRUE(application.padServer().startPending());
    EXPECT_TRUE(application.channelServer().startPending());
    application.shutDown();
    EXPECT_FALSE(application.padServer().startPending());
    EXPECT_FALSE(application.channelServer().startPending());
    EXPECT_FALSE(controller.isOpen());
}

TEST_F(ApplicationTest, DestroyingAStartedApplicationShutsItDown) {
    controller.setPresent(true);
    auto own = std::make_unique<shell::Application>(seams(), workingDirectory.text());
    controller.watchServers(&own->padServer(), &own->channelServer());
    own->start();
    auto client = std::make_unique<TestClient>();
    ASSERT_TRUE(client->connect(net::Family::ipv4, own->padServer().tcpPort()));
    ASSERT_TRUE(client->admit());
    controller.watchServers(nullptr, nullptr);

    own.reset();

    EXPECT_TRUE(client->waitForClose());
    EXPECT_FALSE(controller.isOpen());
}

}  // namespace
}  // namespace pellvane::testing
