#include "delegates/foreground_monitor.h"

#include <gtest/gtest.h>

#include "server/wire_reading.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/support/debug_capture.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

class ForegroundMonitor : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(server->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(client.connect(net::Family::ipv4, server->tcpPort()));
        ASSERT_TRUE(client.admit());
        notepad = addApp(100, "C:\\Windows\\notepad.exe");
        game = addApp(200, "D:\\Games\\my.game.exe");
        otherNotepad = addApp(300, "E:\\Tools\\notepad.exe");
    }

    void TearDown() override { server->stop(); }

    desktop::WindowHandle addApp(std::uint32_t processId, const std::string& path) {
        desktop.addProcess(processId, path);
        return desktop.addWindow(processId);
    }

    // The next AppName that the client receives, as name and process id.
    std::optional<wire::AppNameRecord> nextAppName() {
        const auto message = client.readMessage(2000ms);
        if (!message || message->header != wire::MessageHeader{144, wire::AppName, 132}) {
            return std::nullopt;
        }
        return wire::readAppName(*message);
    }

    ServerEnvironment environment;
    RecordingDelegate delegate;
    std::unique_ptr<ZarvoServer> server = makeServer(&delegate);
    TestClient client;
    FakeDesktop desktop;
    desktop::WindowHandle notepad = 0;
    desktop::WindowHandle game = 0;
    desktop::WindowHandle otherNotepad = 0;
};

TEST_F(ForegroundMonitor, BroadcastsEachChangeOnceAndAppliesTheWantedApplication) {
    DebugCapture capture;
    desktop.setForeground(notepad);
    apps::runMonitorCycle(*server, desktop);
    auto reported = nextAppName();
    ASSERT_TRUE(reported);
    EXPECT_EQ(reported->nameView(), "notepad");
    EXPECT_EQ(reported->processId, 100u);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"Appswitch: ", "notepad", "\n"}));
    // No wanted application named yet: an empty name differs from notepad.
    EXPECT_TRUE(server->keyFilter().keysBlocked());

    apps::runMonitorCycle(*server, desktop);
    desktop.setForeground(otherNotepad);  // same base name, other process: nothing to say
    apps::runMonitorCycle(*server, desktop);
    EXPECT_TRUE(client.staysSilent(300ms));

    const auto wanted = named("my");
    server->keyFilter().applyWantedApp(&wanted);
    EXPECT_TRUE(server->keyFilter().keysBlocked());
    desktop.setForeground(game);
    apps::runMonitorCycle(*server, desktop);
    reported = nextAppName();
    ASSERT_TRUE(reported);
    EXPECT_EQ(reported->nameView(), "my");
    EXPECT_FALSE(server->keyFilter().keysBlocked());
}

TEST_F(ForegroundMonitor, NothingUsableInFrontKeepsWhatWasReported) {
    desktop.setForeground(game);
    apps::runMonitorCycle(*server, desktop);
    ASSERT_TRUE(nextAppName());
    const bool blockedBefore = server->keyFilter().keysBlocked();

    DebugCapture capture;
    desktop.setForeground(desktop::noWindow);
    apps::runMonitorCycle(*server, desktop);
    desktop.setForeground(0x7777);  // not a top-level window of any process
    apps::runMonitorCycle(*server, desktop);
    desktop.setUnopenable(100);
    desktop.setForeground(notepad);
    apps::runMonitorCycle(*server, desktop);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"NULL FMAPP\n", "NULL FMAPP\n", "Could not open process!\n",
                                        "NULL FMAPP\n"}));
    EXPECT_TRUE(client.staysSilent(300ms));
    ASSERT_TRUE(server->keyFilter().foregroundApp());
    EXPECT_EQ(server->keyFilter().foregroundApp()->nameView(), "my");
    EXPECT_EQ(server->keyFilter().keysBlocked(), blockedBefore);
}

TEST_F(ForegroundMonitor, ThreadReportsAtOnceRunsOnceAndEndsWithoutWaitingOutItsSleep) {
    desktop.setForeground(notepad);
    apps::startMonitor(*server, desktop);
    apps::startMonitor(*server, desktop);  // a second admission: the same monitor goes on
    EXPECT_EQ(server->monitorThread.state(), WorkerThread::State::running);
    const auto reported = nextAppName();
    ASSERT_TRUE(reported);
    EXPECT_EQ(reported->nameView(), "notepad");

    const auto before = std::chrono::steady_clock::now();
    apps::endMonitor(*server);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1000ms);
    EXPECT_EQ(server->monitorThread.state(), WorkerThread::State::idle);
    EXPECT_TRUE(client.staysSilent(200ms));
}

TEST_F(ForegroundMonitor, ShortIntervalKeepsReportingChanges) {
    desktop.setForeground(notepad);
    apps::startMonitor(*server, desktop, 20ms);
    ASSERT_TRUE(nextAppName());
    desktop.setForeground(game);
    const auto reported = nextAppName();
    ASSERT_TRUE(reported);
    EXPECT_EQ(reported->nameView(), "my");
    apps::endMonitor(*server);
}

TEST_F(ForegroundMonitor, ServerStopEndsTheMonitorAndForgetsTheApplicationInFront) {
    desktop.setForeground(notepad);
    apps::startMonitor(*server, desktop);
    ASSERT_TRUE(nextAppName());
    server->stop();
    EXPECT_EQ(server->monitorThread.state(), WorkerThread::State::idle);
    EXPECT_FALSE(server->keyFilter().foregroundApp());
    EXPECT_FALSE(server->keyFilter().keysBlocked());
}

}  // namespace
}  // namespace pellvane::testing
