// The terminal in place of the tray: the channel port on standard output, signals turned
// into Disconnect and Quit, and a quit that ends the process even when it cannot be orderly.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "server/dnssd_binding.h"
#include "shell/application.h"
#include "shell/posix/quit_deadline.h"
#include "shell/posix/signal_watcher.h"
#include "shell/posix/terminal_events.h"
#include "shell/posix/terminal_loop.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_dialogs.h"
#include "tests/fakes/fake_keyboard.h"
#include "tests/fakes/recording_controller.h"
#include "tests/shell/temporary_directory.h"
#include "tests/support/eventually.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

std::string portLine(std::uint16_t port) {
    return "Channel server port: " + std::to_string(port) + "\n";
}

class TerminalLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        application.start();
        output = std::fopen(outputPath.c_str(), "w");
        ASSERT_NE(output, nullptr);
        loop = std::thread([this] { shell::runTerminalLoop(application, events, output); });
    }

    void TearDown() override {
        if (loop.joinable()) {
            events.post(shell::TerminalRequest::quit);
            loop.join();
        }
        if (output != nullptr) {
            std::fclose(output);
        }
    }

    std::string printed() const {
        std::ifstream file(outputPath);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    dnssd::LibraryScope dnssdLibrary{PELLVANE_FAKE_DNSSD};
    FakeKeyboard keyboard;
    FakeDesktop desktop;
    FakeDialogs dialogs;
    RecordingController controller{false};
    TemporaryDirectory directory;
    shell::Application application{{keyboard, desktop, dialogs, controller}, directory.text()};
    shell::TerminalEvents events;
    std::string outputPath = directory.file("stdout").string();
    std::FILE* output = nullptr;
    std::thread loop;
};

TEST_F(TerminalLoopTest, ShowsTheChannelPortAtOnceAndAgainWhenItChanges) {
    const std::uint16_t first = application.channelPort();
    ASSERT_NE(first, 0);
    ASSERT_TRUE(eventually([&] { return printed() == portLine(first); }));

    // A failed channel service is restarted by its delegate on a new port.
    application.channelServer().stop();
    const std::uint16_t second = application.channelPort();
    ASSERT_NE(second, 0);
    ASSERT_NE(second, first);
    EXPECT_TRUE(eventually([&] { return printed() == portLine(first) + portLine(second); }));

    // Nothing new while nothing changes.
    std::this_thread::sleep_for(3 * shell::portCheckInterval);
    EXPECT_EQ(printed(), portLine(first) + portLine(second));
}

TEST_F(TerminalLoopTest, DisconnectRestartsOnlyThePadService) {
    const std::uint16_t padPort = application.padServer().tcpPort();
    TestClient client;
    ASSERT_TRUE(client.connect(net::Family::ipv4, padPort));
    ASSERT_TRUE(client.admit());

    events.post(shell::TerminalRequest::disconnect);

    EXPECT_TRUE(client.waitForClose());
    EXPECT_TRUE(eventually([&] {
        const std::uint16_t now = application.padServer().tcpPort();
        return now != 0 && now != padPort;
    }));
    EXPECT_EQ(printed(), portLine(application.channelPort()));
}

TEST_F(TerminalLoopTest, QuitEndsTheLoop) {
    events.post(shell::TerminalRequest::quit);
    loop.join();
    // The services are still up: ending them is the caller's next step.
    EXPECT_TRUE(application.padServer().isRunning());
}

TEST(SignalWatcherTest, HangupAsksForDisconnectAndTerminationForQuit) {
    // As in the program: blocked before the watcher starts, so no default action applies.
    ASSERT_TRUE(shell::blockTerminalSignals());
    shell::TerminalEvents events;
    shell::QuitDeadline deadline(std::chrono::hours(1));
    shell::SignalWatcher watcher(events, deadline);
    ASSERT_TRUE(watcher.start());

    ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
    EXPECT_EQ(events.waitFor(3s), shell::TerminalRequest::disconnect);
    for (int signal : {SIGTERM, SIGINT}) {
        ASSERT_EQ(::kill(::getpid(), signal), 0);
        EXPECT_EQ(events.waitFor(3s), shell::TerminalRequest::quit);
    }
    EXPECT_FALSE(events.waitFor(50ms).has_value());
    watcher.stop();
    deadline.cancel();
}

TEST(QuitDeadlineDeathTest, EndsTheProcessWithExitCodeZeroWhenTheShutdownHangs) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            shell::QuitDeadline deadline(50ms);
            deadline.arm();
            std::this_thread::sleep_for(10s);  // a shutdown that never ends
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0), "quitting without waiting");
}

// A deadline that fired anyway would end the child with code 0 before it gets to its own 4.
TEST(QuitDeadlineDeathTest, ACancelledDeadlineLeavesTheProcessAlone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            shell::QuitDeadline deadline(50ms);
            deadline.arm();
            deadline.arm();  // a second quit changes nothing
            deadline.cancel();
            std::this_thread::sleep_for(150ms);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(4), "");
}

}  // namespace
}  // namespace pellvane::testing
