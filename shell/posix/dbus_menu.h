// The tray's menu as a com.canonical.dbusmenu object, which every StatusNotifierItem host
// (KDE, Xfce, LXQt, GNOME's AppIndicator extension) reads to draw the menu. The layout is
// rebuilt from the items it is given; a click reports the item's command.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/session_bus.h"
#include "shell/posix/desktop_menu_items.h"

namespace pellvane::shell {

class DbusMenu {
  public:
    static constexpr char objectPath[] = "/MenuBar";
    static constexpr char interfaceName[] = "com.canonical.dbusmenu";

    // `onCommand` runs on the bus's thread, inside its processing.
    DbusMenu(bus::Connection& bus, std::function<void(MenuCommand)> onCommand);

    bool publish();
    // Shows `items` from now on; hosts hear of a change and read the layout again.
    void show(std::vector<MenuItem> items);
    const std::vector<MenuItem>& items() const { return items_; }
    std::uint32_t revision() const { return revision_; }

    // One method call to the object.
    bus::Reply answer(const bus::Message& call);

  private:
    bus::Value layout(std::int32_t parent, std::int32_t depth,
                      const std::vector<std::string>& names) const;
    bus::Reply getGroupProperties(const bus::Message& call) const;
    bus::Reply event(std::int32_t id, const std::string& eventId);
    bus::Reply eventGroup(const bus::Message& call);

    bus::Connection& bus_;
    std::function<void(MenuCommand)> onCommand_;
    std::vector<MenuItem> items_;
    std::uint32_t revision_ = 1;
};

}  // namespace pellvane::shell
