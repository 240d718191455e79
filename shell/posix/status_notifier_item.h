// The program's tray icon on a Linux desktop: an org.kde.StatusNotifierItem on the session
// bus, registered with the desktop's StatusNotifierWatcher (again whenever a watcher
// appears), whose menu is the DbusMenu object. The icon asks for attention while a
// question is open.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/session_bus.h"

namespace pellvane::shell {

class StatusNotifierItem {
  public:
    static constexpr char objectPath[] = "/StatusNotifierItem";
    static constexpr char interfaceName[] = "org.kde.StatusNotifierItem";
    static constexpr char watcherName[] = "org.kde.StatusNotifierWatcher";

    // `onNoWatcher` runs once, the first time no watcher takes the item.
    StatusNotifierItem(bus::Connection& bus, std::string iconThemePath,
                       std::function<void()> onNoWatcher);

    // Exports the item, takes its bus name and registers it; false when the bus refused
    // the object or the name.
    bool publish();
    bool registered() const { return registered_; }
    void setNeedsAttention(bool needsAttention);
    const std::string& status() const { return status_; }

    bus::Reply answer(const bus::Message& call);

  private:
    void registerWithWatcher();
    void watcherChanged(const bus::Message& signal);

    bus::Connection& bus_;
    std::string iconThemePath_;
    std::function<void()> onNoWatcher_;
    std::string busName_;
    std::string status_ = "Active";
    bool registered_ = false;
    bool toldNoWatcher_ = false;
};

}  // namespace pellvane::shell
