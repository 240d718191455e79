// Processes as /proc shows them; without a display, no windows and nothing in front.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "delegates/application_list.h"
#include "delegates/foreground_monitor.h"
#include "delegates/process_naming.h"
#include "server/zarvo_server.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

// A child process that sleeps until it is killed.
class SleepingChild {
  public:
    SleepingChild() {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~SleepingChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    SleepingChild(const SleepingChild&) = delete;
    SleepingChild& operator=(const SleepingChild&) = delete;
    std::uint32_t id() const { return static_cast<std::uint32_t>(pid_); }

  private:
    pid_t pid_ = -1;
};

TEST(ProcDesktop, NamesThisProcessAndAChildByTheirImages) {
    auto desktop = desktop::createSystemDesktop();
    wire::AppNameRecord record;
    ASSERT_TRUE(apps::nameProcess(*desktop, record, static_cast<std::uint32_t>(::getpid())));
    EXPECT_EQ(record.nameView(), "pellvane_delegates_tests");

    SleepingChild child;
    ASSERT_GT(child.id(), 0u);
    // The child's image is "sleep" once exec has happened.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (apps::nameProcess(*desktop, record, child.id()) && record.nameView() == "sleep") {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(record.nameView(), "sleep");
    EXPECT_EQ(record.processId, child.id());
}

TEST(ProcDesktop, EnumeratesRunningProcessesAndCannotOpenMissingOnes) {
    auto desktop = desktop::createSystemDesktop();
    std::array<std::uint32_t, 1024> ids{};
    const std::size_t count = desktop->enumerateProcesses(ids);
    ASSERT_NE(count, desktop::enumerationFailed);
    ASSERT_LE(count, ids.size());
    if (count < ids.size()) {
        EXPECT_NE(std::find(ids.begin(), ids.begin() + count, ::getpid()), ids.begin() + count);
    }
    EXPECT_EQ(desktop->openProcess(0), nullptr);
    EXPECT_EQ(desktop->openProcess(0xFFFFFFF0u), nullptr);
    DebugCapture capture;
    wire::AppNameRecord record;
    EXPECT_FALSE(apps::nameProcess(*desktop, record, 0xFFFFFFF0u));
    EXPECT_EQ(capture.count("Could not open process!\n"), 1);
}

// Without DISPLAY for the test's duration, whatever display the tests were started on.
class NoDisplay {
  public:
    NoDisplay() {
        if (const char* display = std::getenv("DISPLAY")) {
            previous_ = display;
            ::unsetenv("DISPLAY");
        }
    }
    ~NoDisplay() {
        if (previous_) {
            ::setenv("DISPLAY", previous_->c_str(), 1);
        }
    }
    NoDisplay(const NoDisplay&) = delete;
    NoDisplay& operator=(const NoDisplay&) = delete;

  private:
    std::optional<std::string> previous_;
};

TEST(ProcDesktop, NoWindowsMeansAnEmptyListAndNothingInFront) {
    const NoDisplay noDisplay;
    auto desktop = desktop::createSystemDesktop();
    EXPECT_EQ(desktop->foregroundWindow(), desktop::noWindow);
    EXPECT_EQ(desktop->topWindow(), desktop::noWindow);
    const auto list = apps::listApplications(*desktop);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->records.empty());

    DebugCapture capture;
    ZarvoServer server("Pellvane Test", "_kesp._tcp", "");
    apps::runMonitorCycle(server, *desktop);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"NULL FMAPP\n"});
}

TEST(ProcDesktop, ImagePathQueriesFitTheBufferTheirWay) {
    auto desktop = desktop::createSystemDesktop();
    auto self = desktop->openProcess(static_cast<std::uint32_t>(::getpid()));
    ASSERT_TRUE(self);
    std::array<char, 128> path{};
    const std::size_t length = self->moduleFileName(path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(path[0], '/');
    std::array<char, 8> small{};
    EXPECT_EQ(self->moduleFileName(small), 7u);  // cut to fit, NUL included
    EXPECT_EQ(small[7], '\0');
    EXPECT_EQ(self->fullProcessImageName(small), 0u);  // refuses to cut
}

}  // namespace
}  // namespace pellvane::testing
