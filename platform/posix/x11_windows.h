// The windows of an X display, read through libX11 loaded at run time: the window in front
// is the root window's _NET_ACTIVE_WINDOW, a window's process its _NET_WM_PID, and the
// top-level windows the window manager's clients (_NET_CLIENT_LIST_STACKING) and the root's
// children, hidden ones included, topmost first. Without DISPLAY or without libX11 there are
// no windows.
#pragma once

#include <cstdint>
#include <memory>

namespace pellvane::desktop {

class X11Windows {
  public:
    X11Windows();
    ~X11Windows();
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    // 0 stands for no window in each of these.
    std::uintptr_t activeWindow();
    std::uintptr_t topWindow();
    std::uintptr_t nextWindow(std::uintptr_t window);
    // 0 when the window names no process.
    std::uint32_t windowProcessId(std::uintptr_t window);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pellvane::desktop
