// The desktop's windows on an X display: a private Xvfb per test, windows made by the test
// through libX11 with _NET_WM_PID stamped on them, and the root's _NET_ACTIVE_WINDOW set by
// the test as a window manager would. Skipped where Xvfb or libX11 is missing.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "delegates/application_list.h"
#include "delegates/foreground_monitor.h"
#include "delegates/process_naming.h"
#include "server/zarvo_server.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/delegates/posix/private_x_server.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr unsigned long xaCardinal = 6;
constexpr unsigned long xaWindow = 33;
constexpr int propModeReplace = 0;

// The Xlib calls with which the test plays the window manager and the applications.
struct TestXlib {
    void* library = nullptr;
    void* (*openDisplay)(const char*) = nullptr;
    int (*closeDisplay)(void*) = nullptr;
    unsigned long (*defaultRootWindow)(void*) = nullptr;
    unsigned long (*internAtom)(void*, const char*, int) = nullptr;
    unsigned long (*createSimpleWindow)(void*, unsigned long, int, int, unsigned, unsigned,
                                        unsigned, unsigned long, unsigned long) = nullptr;
    int (*destroyWindow)(void*, unsigned long) = nullptr;
    int (*changeProperty)(void*, unsigned long, unsigned long, unsigned long, int, int,
                          const unsigned char*, int) = nullptr;
    int (*deleteProperty)(void*, unsigned long, unsigned long) = nullptr;
    int (*sync)(void*, int) = nullptr;

    bool load() {
        library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        return library != nullptr && bind(openDisplay, "XOpenDisplay") &&
               bind(closeDisplay, "XCloseDisplay") &&
               bind(defaultRootWindow, "XDefaultRootWindow") && bind(internAtom, "XInternAtom") &&
               bind(createSimpleWindow, "XCreateSimpleWindow") &&
               bind(destroyWindow, "XDestroyWindow") && bind(changeProperty, "XChangeProperty") &&
               bind(deleteProperty, "XDeleteProperty") && bind(sync, "XSync");
    }

    template <typename Function>
    bool bind(Function& function, const char* name) {
        function = reinterpret_cast<Function>(::dlsym(library, name));
        return function != nullptr;
    }
};

// A child process that sleeps until it is killed.
class Sleeper {
  public:
    Sleeper() {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Sleeper() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
    std::uint32_t id() const { return static_cast<std::uint32_t>(pid_); }

    // True once the child runs the sleep image.
    bool waitForImage() const {
        const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
        for (int tries = 0; tries < 500; ++tries) {
            char path[256] = {};
            const ssize_t length = ::readlink(exe.c_str(), path, sizeof path - 1);
            if (length > 0 &&
                std::string(path, static_cast<std::size_t>(length)).ends_with("/sleep")) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

  private:
    pid_t pid_ = -1;
};

// Xvfb on a display number that it picks itself; DISPLAY points at it while the test runs.
class X11DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!xlib_.load()) {
            GTEST_SKIP() << "libX11 cannot be loaded";
        }
        if (!PrivateXServer::installed()) {
            GTEST_SKIP() << "no Xvfb";
        }
        const std::optional<std::string> display = server_.start();
        if (!display) {
            GTEST_SKIP() << "Xvfb did not start";
        }
        if (const char* previous = std::getenv("DISPLAY")) {
            previousDisplay_ = previous;
        }
        ::setenv("DISPLAY", display->c_str(), 1);
        display_ = xlib_.openDisplay(display->c_str());
        ASSERT_NE(display_, nullptr);
        root_ = xlib_.defaultRootWindow(display_);
        activeAtom_ = xlib_.internAtom(display_, "_NET_ACTIVE_WINDOW", 0);
        pidAtom_ = xlib_.internAtom(display_, "_NET_WM_PID", 0);
    }

    void TearDown() override {
        if (display_ != nullptr) {
            xlib_.closeDisplay(display_);
        }
        server_.stop();
        if (previousDisplay_) {
            ::setenv("DISPLAY", previousDisplay_->c_str(), 1);
        } else {
            ::unsetenv("DISPLAY");
        }
    }

    // A window, top-level unless a parent is given, stamped with `processId` unless that
    // is 0.
    unsigned long createWindow(std::uint32_t processId, unsigned long parent = 0) {
        const unsigned long window =
            xlib_.createSimpleWindow(display_, parent != 0 ? parent : root_, 0, 0, 40, 30, 0, 0, 0);
        if (processId != 0) {
            const long value = processId;
            xlib_.changeProperty(display_, window, pidAtom_, xaCardinal, 32, propModeReplace,
                                 reinterpret_cast<const unsigned char*>(&value), 1);
        }
        xlib_.sync(display_, 0);
        return window;
    }

    void activate(unsigned long window) {
        const long value = static_cast<long>(window);
        xlib_.changeProperty(display_, root_, activeAtom_, xaWindow, 32, propModeReplace,
                             reinterpret_cast<const unsigned char*>(&value), 1);
        xlib_.sync(display_, 0);
    }

    // What a window manager lists as its clients, bottom first.
    void listClients(const std::vector<long>& clients) {
        const unsigned long atom = xlib_.internAtom(display_, "_NET_CLIENT_LIST_STACKING", 0);
        xlib_.changeProperty(display_, root_, atom, xaWindow, 32, propModeReplace,
                             reinterpret_cast<const unsigned char*>(clients.data()),
                             static_cast<int>(clients.size()));
        xlib_.sync(display_, 0);
    }

    static std::vector<desktop::WindowHandle> walk(desktop::Desktop& desktop) {
        std::vector<desktop::WindowHandle> windows;
        for (auto window = desktop.topWindow(); window != desktop::noWindow;
             window = desktop.nextWindow(window)) {
            windows.push_back(window);
        }
        return windows;
    }

    TestXlib xlib_;
    PrivateXServer server_;
    std::optional<std::string> previousDisplay_;
    void* display_ = nullptr;
    unsigned long root_ = 0;
    unsigned long activeAtom_ = 0;
    unsigned long pidAtom_ = 0;
};

TEST_F(X11DesktopTest, TheActiveWindowItsProcessAndTheWindowsTopmostFirst) {
    Sleeper sleeper;
    ASSERT_TRUE(sleeper.waitForImage());
    auto desktop = desktop::createSystemDesktop();
    EXPECT_EQ(desktop->foregroundWindow(), desktop::noWindow);  // nothing made active yet

    const unsigned long sleeping = createWindow(sleeper.id());
    const unsigned long own = createWindow(static_cast<std::uint32_t>(::getpid()));
    const unsigned long anonymous = createWindow(0);
    activate(sleeping);
    EXPECT_EQ(desktop->foregroundWindow(), sleeping);
    EXPECT_EQ(desktop->windowProcessId(sleeping), sleeper.id());
    EXPECT_EQ(desktop->windowProcessId(own), static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(desktop->windowProcessId(anonymous), 0u);
    EXPECT_EQ(desktop->windowProcessId(desktop::noWindow), 0u);

    // Unmapped windows count too; a new window goes on top of its siblings.
    const std::vector<desktop::WindowHandle> windows = walk(*desktop);
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows, (std::vector<desktop::WindowHandle>{anonymous, own, sleeping}));
    EXPECT_EQ(desktop->nextWindow(0x7FFFFFF), desktop::noWindow);
    EXPECT_TRUE(apps::ownsTopLevelWindow(*desktop, sleeper.id()));
    EXPECT_FALSE(apps::ownsTopLevelWindow(*desktop, 0xFFFFFFF0u));

    activate(own);
    EXPECT_EQ(desktop->foregroundWindow(), own);
    activate(0);
    EXPECT_EQ(desktop->foregroundWindow(), desktop::noWindow);
}

TEST_F(X11DesktopTest, ListsAndReportsTheApplicationsThatOwnWindows) {
    Sleeper sleeper;
    ASSERT_TRUE(sleeper.waitForImage());
    auto desktop = desktop::createSystemDesktop();
    createWindow(sleeper.id());
    const unsigned long own = createWindow(static_cast<std::uint32_t>(::getpid()));

    const auto list = apps::listApplications(*desktop);
    ASSERT_TRUE(list);
    std::vector<std::string> names;
    for (const auto& record : list->records) {
        names.emplace_back(record.nameView());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"pellvane_delegates_tests", "sleep"}));

    ZarvoServer server("Pellvane Test", "_kesp._tcp", "");
    {
        DebugCapture capture;
        apps::runMonitorCycle(server, *desktop);
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"NULL FMAPP\n"});
    }
    activate(own);
    {
        DebugCapture capture;
        apps::runMonitorCycle(server, *desktop);
        EXPECT_TRUE(capture.contains("pellvane_delegates_tests"));
        EXPECT_EQ(server.keyFilter().foregroundApp(),
                  named("pellvane_delegates_tests", static_cast<std::uint32_t>(::getpid())));
    }
    // A window without a process in front: it owns a window as process 0 does, which
    // cannot be opened; the application reported before stays.
    activate(createWindow(0));
    {
        DebugCapture capture;
        apps::runMonitorCycle(server, *desktop);
        EXPECT_EQ(capture.lines(),
                  (std::vector<std::string>{"Could not open process!\n", "NULL FMAPP\n"}));
        ASSERT_TRUE(server.keyFilter().foregroundApp());
        EXPECT_EQ(server.keyFilter().foregroundApp()->nameView(), "pellvane_delegates_tests");
    }
}

TEST_F(X11DesktopTest, ClientsInFramesOfAWindowManagerCountAsTopLevel) {
    Sleeper sleeper;
    ASSERT_TRUE(sleeper.waitForImage());
    auto desktop = desktop::createSystemDesktop();
    const unsigned long lowerFrame = createWindow(0);
    const unsigned long lowerClient =
        createWindow(static_cast<std::uint32_t>(::getpid()), lowerFrame);
    const unsigned long upperFrame = createWindow(0);
    const unsigned long upperClient = createWindow(sleeper.id(), upperFrame);
    EXPECT_FALSE(apps::ownsTopLevelWindow(*desktop, sleeper.id()));

    listClients({static_cast<long>(lowerClient), static_cast<long>(upperClient)});
    EXPECT_EQ(walk(*desktop), (std::vector<desktop::WindowHandle>{upperClient, lowerClient,
                                                                  upperFrame, lowerFrame}));
    activate(upperClient);
    ZarvoServer server("Pellvane Test", "_kesp._tcp", "");
    DebugCapture capture;
    apps::runMonitorCycle(server, *desktop);
    EXPECT_TRUE(capture.contains("sleep"));
    EXPECT_EQ(server.keyFilter().foregroundApp(), named("sleep", sleeper.id()));
    const auto list = apps::listApplications(*desktop);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->records.size(), 2u);

    // A frame that is itself a client is walked once.
    listClients({static_cast<long>(lowerFrame), 0});
    EXPECT_EQ(walk(*desktop), (std::vector<desktop::WindowHandle>{lowerFrame, upperFrame}));
}

TEST_F(X11DesktopTest, WindowsThatAreGoneAndAServerThatIsGoneEndNothing) {
    auto desktop = desktop::createSystemDesktop();
    const unsigned long window = createWindow(static_cast<std::uint32_t>(::getpid()));
    activate(window);
    ASSERT_EQ(desktop->foregroundWindow(), window);
    ASSERT_EQ(walk(*desktop).size(), 1u);
    xlib_.destroyWindow(display_, window);
    xlib_.sync(display_, 0);
    // The root still names the destroyed window; asking about it is a protocol error.
    EXPECT_EQ(desktop->foregroundWindow(), window);
    EXPECT_EQ(desktop->windowProcessId(window), 0u);
    EXPECT_EQ(desktop->windowProcessId(0x7FFFFFF), 0u);
    EXPECT_TRUE(walk(*desktop).empty());

    // Both threads of the server ask at once.
    const unsigned long other = createWindow(static_cast<std::uint32_t>(::getpid()));
    activate(other);
    std::thread monitor([&] {
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(desktop->foregroundWindow(), other);
        }
    });
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(walk(*desktop), std::vector<desktop::WindowHandle>{other});
    }
    monitor.join();

    xlib_.closeDisplay(display_);
    display_ = nullptr;
    server_.stop();
    EXPECT_EQ(desktop->foregroundWindow(), desktop::noWindow);
    EXPECT_EQ(desktop->topWindow(), desktop::noWindow);
    EXPECT_EQ(desktop->windowProcessId(other), 0u);
    EXPECT_EQ(desktop->foregroundWindow(), desktop::noWindow);
    const auto list = apps::listApplications(*desktop);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->records.empty());

    // A display that is there again is found again, a second or more after the loss.
    const std::optional<std::string> again = server_.start();
    ASSERT_TRUE(again);
    ::setenv("DISPLAY", again->c_str(), 1);
    display_ = xlib_.openDisplay(again->c_str());
    ASSERT_NE(display_, nullptr);
    root_ = xlib_.defaultRootWindow(display_);
    activeAtom_ = xlib_.internAtom(display_, "_NET_ACTIVE_WINDOW", 0);
    pidAtom_ = xlib_.internAtom(display_, "_NET_WM_PID", 0);
    const unsigned long found = createWindow(static_cast<std::uint32_t>(::getpid()));
    activate(found);
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(desktop->foregroundWindow(), found);
    EXPECT_EQ(desktop->windowProcessId(found), static_cast<std::uint32_t>(::getpid()));
}

TEST_F(X11DesktopTest, ADisplayThatCannotBeOpenedMeansNoWindows) {
    createWindow(static_cast<std::uint32_t>(::getpid()));
    ::setenv("DISPLAY", ":32767", 1);
    auto desktop = desktop::createSystemDesktop();
    EXPECT_EQ(desktop->foregroundWindow(), desktop::noWindow);
    EXPECT_EQ(desktop->topWindow(), desktop::noWindow);
    ::unsetenv("DISPLAY");
    auto without = desktop::createSystemDesktop();
    EXPECT_EQ(without->topWindow(), desktop::noWindow);
    EXPECT_EQ(without->foregroundWindow(), desktop::noWindow);
}

}  // namespace
}  // namespace pellvane::testing
