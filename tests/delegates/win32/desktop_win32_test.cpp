// Real processes and windows: naming this program and a notepad it starts, listing the
// applications that own windows, and seeing a window of ours in front.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "delegates/application_list.h"
#include "delegates/foreground_monitor.h"
#include "delegates/process_naming.h"
#include "server/zarvo_server.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/delegates/win32/test_window.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

class StartedNotepad {
  public:
    StartedNotepad() {
        wchar_t directory[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return;
        }
        const std::wstring path = std::wstring(directory) + L"\\notepad.exe";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info_)) {
            started_ = true;
            WaitForInputIdle(info_.hProcess, 10000);
        }
    }
    ~StartedNotepad() {
        if (started_) {
            TerminateProcess(info_.hProcess, 0);
            WaitForSingleObject(info_.hProcess, 5000);
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }
    StartedNotepad(const StartedNotepad&) = delete;
    StartedNotepad& operator=(const StartedNotepad&) = delete;

    bool started() const { return started_; }
    std::uint32_t id() const { return info_.dwProcessId; }

  private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

TEST(Win32Desktop, NamesThisProgram) {
    auto desktop = desktop::createSystemDesktop();
    wire::AppNameRecord record;
    ASSERT_TRUE(apps::nameProcess(*desktop, record, GetCurrentProcessId()));
    EXPECT_EQ(record.nameView(), "pellvane_delegates_tests");
    EXPECT_EQ(record.processId, GetCurrentProcessId());
}

TEST(Win32Desktop, EnumeratesProcessesAndCannotOpenMissingOnes) {
    auto desktop = desktop::createSystemDesktop();
    std::array<std::uint32_t, 1024> ids{};
    const std::size_t count = desktop->enumerateProcesses(ids);
    ASSERT_NE(count, desktop::enumerationFailed);
    ASSERT_GT(count, 0u);
    EXPECT_NE(std::find(ids.begin(), ids.begin() + count, GetCurrentProcessId()),
              ids.begin() + count);
    EXPECT_EQ(desktop->openProcess(0xFFFFFFF0u), nullptr);
}

TEST(Win32Desktop, StartedNotepadIsNamedAndListed) {
    if (windowsUnavailable()) {
        GTEST_SKIP() << "no X display for Wine's windows";
    }
    auto desktop = desktop::createSystemDesktop();
    StartedNotepad notepad;
    ASSERT_TRUE(notepad.started());
    wire::AppNameRecord record;
    ASSERT_TRUE(apps::nameProcess(*desktop, record, notepad.id()));
    EXPECT_EQ(record.nameView(), "notepad");

    bool listed = false;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!listed && std::chrono::steady_clock::now() < deadline) {
        const auto list = apps::listApplications(*desktop);
        ASSERT_TRUE(list);
        listed = std::any_of(list->records.begin(), list->records.end(), [&](const auto& app) {
            return app.processId == notepad.id() && app.nameView() == "notepad";
        });
        if (!listed) {
            std::this_thread::sleep_for(100ms);
        }
    }
    EXPECT_TRUE(listed);
    EXPECT_TRUE(apps::ownsTopLevelWindow(*desktop, notepad.id()));
    const auto walked = apps::listApplicationsWalkingPerProcess(*desktop);
    ASSERT_TRUE(walked);
    EXPECT_TRUE(std::any_of(walked->records.begin(), walked->records.end(),
                            [&](const auto& app) { return app.processId == notepad.id(); }));
}

TEST(Win32Desktop, WindowInFrontIsReportedByTheMonitor) {
    if (windowsUnavailable()) {
        GTEST_SKIP() << "no X display for Wine's windows";
    }
    auto desktop = desktop::createSystemDesktop();
    TestWindow window;
    ASSERT_TRUE(window.bringToFront());
    EXPECT_EQ(desktop->foregroundWindow(),
              reinterpret_cast<desktop::WindowHandle>(window.handle()));
    EXPECT_EQ(desktop->windowProcessId(desktop->foregroundWindow()), GetCurrentProcessId());

    ZarvoServer server("Pellvane Test", "_kesp._tcp", "");
    apps::runMonitorCycle(server, *desktop);
    ASSERT_TRUE(server.keyFilter().foregroundApp());
    EXPECT_EQ(server.keyFilter().foregroundApp()->nameView(), "pellvane_delegates_tests");
    EXPECT_TRUE(server.keyFilter().keysBlocked());
    const wire::AppNameRecord wanted = named("pellvane_delegates_tests");
    server.keyFilter().applyWantedApp(&wanted);
    EXPECT_FALSE(server.keyFilter().keysBlocked());
}

}  // namespace
}  // namespace pellvane::testing
