// The program's presence on a Linux desktop's session bus: the tray icon with its menu, and
// the notifications that carry its boxes and questions. Runs on the main thread, which polls
// the bus's descriptor and the dialogs' wake-up descriptor and then calls process().
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/session_bus.h"
#include "shell/posix/dbus_menu.h"
#include "shell/posix/desktop_dialogs.h"
#include "shell/posix/desktop_notifications.h"
#include "shell/posix/status_notifier_item.h"

namespace pellvane::shell {

class DesktopTray {
  public:
    // `onNoTray` runs once when no tray host takes the icon.
    DesktopTray(std::unique_ptr<bus::Connection> bus, DesktopDialogs& dialogs,
                std::string iconThemePath, std::function<void()> onNoTray);
    ~DesktopTray();
    DesktopTray(const DesktopTray&) = delete;
    DesktopTray& operator=(const DesktopTray&) = delete;

    // Puts the icon and menu on the bus and learns what the notification server can do
    // (waiting at most `wait` for it); false when the bus refused the objects.
    bool start(std::chrono::milliseconds wait);
    // The menu and icon for `state`.
    void show(const TrayState& state);
    // Handles what arrived on the bus and what the dialogs want shown or withdrawn; false
    // when the bus is gone.
    bool process();
    // The menu commands chosen since the last call.
    std::vector<MenuCommand> takeCommands();

    int busDescriptor() const { return bus_->descriptor(); }
    short busEvents() const { return bus_->pollEvents(); }
    int busTimeoutMs() const { return bus_->timeoutMs(); }
    bool hasTray() const { return item_.registered(); }

  private:
    void showBoxes();

    std::unique_ptr<bus::Connection> bus_;
    DesktopDialogs& dialogs_;
    DbusMenu menu_;
    StatusNotifierItem item_;
    DesktopNotifications notifications_;
    std::vector<MenuCommand> commands_;
    std::map<std::uint64_t, std::uint64_t> noticeOfQuestion_;  // question ticket, notice ticket
};

}  // namespace pellvane::shell
