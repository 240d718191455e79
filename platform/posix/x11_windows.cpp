// One connection to the display named by DISPLAY, opened at the first question and kept;
// every question is asked under one lock since the monitor thread and the loop thread both
// ask. The process-wide Xlib handlers are replaced so that neither a protocol error (a window
// that went away between two questions) nor a lost connection ends the program: a lost
// connection is dropped and opened again later, at most once a second.
#include "platform/posix/x11_windows.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/dynamic_library.h"

namespace pellvane::desktop {
namespace {

// The few parts of Xlib used here, declared by their C signatures: Display and XErrorEvent
// stay opaque, Window and Atom are XIDs.
using XDisplay = void;
using XWindow = unsigned long;
using XAtom = unsigned long;
using XErrorHandler = int (*)(XDisplay*, void*);
using XIOErrorHandler = int (*)(XDisplay*);
using XIOErrorExitHandler = void (*)(XDisplay*, void*);

constexpr int xSuccess = 0;
constexpr int xFalse = 0;
constexpr XAtom xAnyPropertyType = 0;

struct Xlib {
    XDisplay* (*openDisplay)(const char*) = nullptr;
    int (*closeDisplay)(XDisplay*) = nullptr;
    XWindow (*defaultRootWindow)(XDisplay*) = nullptr;
    XAtom (*internAtom)(XDisplay*, const char*, int) = nullptr;
    int (*getWindowProperty)(XDisplay*, XWindow, XAtom, long, long, int, XAtom, XAtom*, int*,
                             unsigned long*, unsigned long*, unsigned char**) = nullptr;
    int (*queryTree)(XDisplay*, XWindow, XWindow*, XWindow*, XWindow**, unsigned int*) = nullptr;
    int (*free)(void*) = nullptr;
    XErrorHandler (*setErrorHandler)(XErrorHandler) = nullptr;
    XIOErrorHandler (*setIOErrorHandler)(XIOErrorHandler) = nullptr;
    void (*setIOErrorExitHandler)(XDisplay*, XIOErrorExitHandler, void*) = nullptr;
};

template <typename Function>
bool bind(dynlib::LibraryHandle library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dynlib::findSymbol(library, name));
    return function != nullptr;
}

// The library stays loaded for the life of the program once found: the handlers installed
// in it point here, and a display may outlive the object that opened it.
const Xlib* loadXlib() {
    static const Xlib* const loaded = []() -> const Xlib* {
        dynlib::LibraryHandle library = dynlib::open("libX11.so.6");
        if (library == nullptr) {
            return nullptr;
        }
        static Xlib xlib;
        // Without the exit handler (libX11 before 1.7) a lost connection would end the
        // program, so such a library is not used at all.
        const bool complete = bind(library, xlib.openDisplay, "XOpenDisplay") &&
                              bind(library, xlib.closeDisplay, "XCloseDisplay") &&
                              bind(library, xlib.defaultRootWindow, "XDefaultRootWindow") &&
                              bind(library, xlib.internAtom, "XInternAtom") &&
                              bind(library, xlib.getWindowProperty, "XGetWindowProperty") &&
                              bind(library, xlib.queryTree, "XQueryTree") &&
                              bind(library, xlib.free, "XFree") &&
                              bind(library, xlib.setErrorHandler, "XSetErrorHandler") &&
                              bind(library, xlib.setIOErrorHandler, "XSetIOErrorHandler") &&
                              bind(library, xlib.setIOErrorExitHandler, "XSetIOErrorExitHandler");
        if (!complete) {
            dynlib::close(library);
            return nullptr;
        }
        return &xlib;
    }();
    return loaded;
}

int ignoreProtocolError(XDisplay*, void*) {
    return 0;
}

int ignoreLostConnection(XDisplay*) {
    return 0;
}

// Called by Xlib once a display's connection is lost, with the flag of its owner; where it
// returns, Xlib leaves the display dead instead of ending the program.
void markLostConnection(XDisplay*, void* lost) {
    static_cast<std::atomic<bool>*>(lost)->store(true);
}

// No more top-level windows than this are walked.
constexpr std::size_t windowLimit = 16384;
constexpr auto reopenPause = std::chrono::seconds(1);

}  // namespace

struct X11Windows::State {
    std::mutex lock;
    const Xlib* xlib = nullptr;
    XDisplay* display = nullptr;
    // Set from inside an Xlib call on `display` when its connection is lost.
    std::atomic<bool> lost{false};
    XWindow root = 0;
    XAtom activeWindowAtom = 0;
    XAtom processIdAtom = 0;
    XAtom clientStackingAtom = 0;
    bool everOpened = false;
    std::chrono::steady_clock::time_point lastOpen{};
    // The top-level windows as the last topWindow() saw them, topmost first.
    std::vector<XWindow> stacking;

    // The open connection, or null; called with the lock held.
    XDisplay* connection() {
        if (display != nullptr && lost.load()) {
            // Xlib has given up on it; closing it only frees what it holds.
            xlib->closeDisplay(display);
            display = nullptr;
            stacking.clear();
        }
        if (display != nullptr) {
            return display;
        }
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || name[0] == '\0') {
            return nullptr;
        }
        const auto now = std::chrono::steady_clock::now();
        if (everOpened && now - lastOpen < reopenPause) {
            return nullptr;
        }
        everOpened = true;
        lastOpen = now;
        xlib = loadXlib();
        if (xlib == nullptr) {
            return nullptr;
        }
        xlib->setErrorHandler(ignoreProtocolError);
        xlib->setIOErrorHandler(ignoreLostConnection);
        XDisplay* opened = xlib->openDisplay(name);
        if (opened == nullptr) {
            return nullptr;
        }
        lost.store(false);
        xlib->setIOErrorExitHandler(opened, markLostConnection, &lost);
        root = xlib->defaultRootWindow(opened);
        activeWindowAtom = xlib->internAtom(opened, "_NET_ACTIVE_WINDOW", xFalse);
        processIdAtom = xlib->internAtom(opened, "_NET_WM_PID", xFalse);
        clientStackingAtom = xlib->internAtom(opened, "_NET_CLIENT_LIST_STACKING", xFalse);
        if (lost.load()) {
            return nullptr;
        }
        if (activeWindowAtom == 0 || processIdAtom == 0 || clientStackingAtom == 0) {
            xlib->closeDisplay(opened);
            return nullptr;
        }
        display = opened;
        return display;
    }

    // At most the first `limit` 32-bit items of a window's property, whatever its type;
    // none when the window or the property is missing.
    std::vector<unsigned long> readItems(XWindow window, XAtom property, std::size_t limit) {
        XAtom type = 0;
        int format = 0;
        unsigned long items = 0;
        unsigned long bytesAfter = 0;
        unsigned char* data = nullptr;
        const int result =
            xlib->getWindowProperty(display, window, property, 0, static_cast<long>(limit), xFalse,
                                    xAnyPropertyType, &type, &format, &items, &bytesAfter, &data);
        std::vector<unsigned long> values;
        if (result == xSuccess && data != nullptr && format == 32 && !lost.load()) {
            // Xlib hands 32-bit items over as longs.
            const auto* first = reinterpret_cast<const unsigned long*>(data);
            values.assign(first, first + std::min<std::size_t>(items, limit));
        }
        if (data != nullptr) {
            xlib->free(data);
        }
        return values;
    }

    bool readCardinal(XWindow window, XAtom property, unsigned long& value) {
        const std::vector<unsigned long> values = readItems(window, property, 1);
        if (values.empty()) {
            return false;
        }
        value = values.front();
        return true;
    }
};

X11Windows::X11Windows() : state_(std::make_unique<State>()) {}

X11Windows::~X11Windows() {
    if (state_->display != nullptr) {
        state_->xlib->closeDisplay(state_->display);
    }
}

std::uintptr_t X11Windows::activeWindow() {
    std::lock_guard guard(state_->lock);
    if (state_->connection() == nullptr) {
        return 0;
    }
    unsigned long window = 0;
    if (!state_->readCardinal(state_->root, state_->activeWindowAtom, window)) {
        return 0;
    }
    return window;
}

std::uintptr_t X11Windows::topWindow() {
    std::lock_guard guard(state_->lock);
    state_->stacking.clear();
    if (state_->connection() == nullptr) {
        return 0;
    }
    XWindow root = 0;
    XWindow parent = 0;
    XWindow* children = nullptr;
    unsigned int count = 0;
    const int status =
        state_->xlib->queryTree(state_->display, state_->root, &root, &parent, &children, &count);
    std::vector<XWindow> rootChildren;
    if (status != 0 && children != nullptr && !state_->lost.load()) {
        rootChildren.assign(children, children + count);
    }
    if (children != nullptr) {
        state_->xlib->free(children);
    }
    // A reparenting window manager puts each application's window into a frame of its own,
    // so the windows that name their process are not the root's children; it lists them in
    // _NET_CLIENT_LIST_STACKING. Its clients come first, then the root's children; Xlib and
    // the window manager both list them bottom first.
    auto& stacking = state_->stacking;
    stacking = state_->readItems(state_->root, state_->clientStackingAtom, windowLimit);
    std::reverse(stacking.begin(), stacking.end());
    const auto clientsEnd = static_cast<std::ptrdiff_t>(stacking.size());
    for (auto child = rootChildren.rbegin();
         child != rootChildren.rend() && stacking.size() < windowLimit; ++child) {
        if (std::find(stacking.begin(), stacking.begin() + clientsEnd, *child) ==
            stacking.begin() + clientsEnd) {
            stacking.push_back(*child);
        }
    }
    std::erase(stacking, XWindow{0});
    return stacking.empty() ? 0 : stacking.front();
}

std::uintptr_t X11Windows::nextWindow(std::uintptr_t window) {
    std::lock_guard guard(state_->lock);
    const auto& stacking = state_->stacking;
    const auto found = std::find(stacking.begin(), stacking.end(), window);
    if (found == stacking.end() || found + 1 == stacking.end()) {
        return 0;
    }
    return *(found + 1);
}

std::uint32_t X11Windows::windowProcessId(std::uintptr_t window) {
    std::lock_guard guard(state_->lock);
    if (window == 0 || state_->connection() == nullptr) {
        return 0;
    }
    unsigned long processId = 0;
    if (!state_->readCardinal(window, state_->processIdAtom, processId) ||
        processId > 0xFFFFFFFFul) {
        return 0;
    }
    return static_cast<std::uint32_t>(processId);
}

}  // namespace pellvane::desktop
